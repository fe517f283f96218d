// kz-bench: the batch against the database's own floor, in both return-queue
// modes, each statement by statement and as one block per commitment
// (KZ_ENVIO=bloco).
//
// For each size N it builds a fresh database of N commitments and, for each
// mode (per-entry: KZ_RETORNO unset; lote: KZ_RETORNO=lote), runs the built
// batch on a copy with statement capture on, and replays the statements that
// mode sent on another copy, in a process of its own, through the same client
// library in one transaction. Both runs start a process, load
// the engine, attach, work, commit and detach, so their wall times compare
// like for like; the replay also times every statement, grouped by family.
// Embedded by default; with --server both go through the Firebird server on
// 127.0.0.1 (scripts/bench.sh starts a private one), so the batch's memory holds the
// client library only, without the engine and its page cache. Through the
// server both pass a relay of this process that counts the round trips and,
// with --atraso-us U, holds every piece U microseconds each way (a network's
// latency). The block modes are not replayed: their end state is compared
// with the same return-queue mode's, statement by statement.
//
//   kz-bench [--big] [--sizes N,N,...] [--modes per-entry,lote,bloco,bloco-lote]
//            [--repeat K] [--together] [--keep DIR] [--server] [--atraso-us U]
//            [--batch EXECUTABLE]
//   kz-bench --replay CAPTURE DATABASE PROFILE     (the replay process)
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_database.h"
#include "bench/child_process.h"
#include "bench/replay.h"
#include "data/record_set.h"
#include "tests/support/fixture.h"
#include "tests/support/relay.h"

namespace fs = std::filesystem;

namespace kz::bench {
namespace {

constexpr double kRatioTarget = 1.10;
constexpr double kMemoryGrowthTarget = 1.2;
constexpr double kOwnMemoryGrowthMib = 2.0;
// The deferred mode's targets: linear time, and 20,000 commitments in 2.5 min.
constexpr double kGrowthTarget = 5.5;  // time(5,000) / time(1,000)
constexpr double kBigTarget = 150;     // seconds at 20,000
// The per-entry mode takes a quarter of an hour at 20,000: above this size it
// runs once, whatever --repeat says.
constexpr int kPerEntryRepeatUpTo = 5000;

// A mode: its name and the values of KZ_RETORNO and KZ_ENVIO.
struct Mode {
  std::string name;
  std::string retorno;
  std::string envio;
  bool Bloco() const { return !envio.empty(); }
};
const Mode kPerEntry{"per-entry", "", ""};
const Mode kLote{"lote", "lote", ""};
const Mode kBloco{"bloco", "", "bloco"};
const Mode kBlocoLote{"bloco-lote", "lote", "bloco"};
const Mode kModes[] = {kPerEntry, kLote, kBloco, kBlocoLote};

struct Options {
  std::vector<int> sizes{1000, 5000};
  std::vector<Mode> modes{kPerEntry, kLote, kBloco, kBlocoLote};
  int atraso_us = 0;  // through the server: each piece held this long, each way
  int repeat = 1;
  std::string keep;     // a folder to keep each size's database, capture and profile in
  bool server = false;  // both runs through the Firebird server on 127.0.0.1
  std::string batch = KZ_BINARY_DIR "/cancela-empenhos";
  bool together = false;  // each batch run at the same time as a replay
};

struct Outcome {
  int n = 0;
  std::string mode;
  double batch_s = 0;
  double solo_s = 0;  // the batch with nothing of this program beside it
  double replay_s = 0;
  double ratio = 0;  // batch / replay, wall time
  double batch_cpu = 0;
  double replay_cpu = 0;
  double cpu_ratio = 0;  // batch / replay, processor time
  long batch_kib = 0;
  long replay_kib = 0;
  double lookup_share = 0;  // RetornoLanca lookups and deletes in the database's time
  double rodadas = 0;       // round trips per commitment (through the server)
  bool same_state = false;
  std::vector<std::string> fingerprint;  // of the batch's database
};

std::string Thousands(uint64_t v) {
  std::string digits = std::to_string(v), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

double Mib(long kib) { return kib / 1024.0; }

std::string SelfExe() {
  std::error_code ec;
  const fs::path p = fs::read_symlink("/proc/self/exe", ec);
  if (ec) throw std::runtime_error("cannot find this program's path");
  return p.string();
}

// Sums and counts over every table the run changes: two databases that agree
// on all of them reached the same state.
std::vector<std::string> Fingerprint(const std::string& location, const std::string& password) {
  Connection c;
  c.Open("DBNAME=" + location + ";UID=SYSDBA;PWD=" + password);
  static const char* kQueries[] = {
      "SELECT COUNT(*), SUM(STAEPN) FROM TB_VDA_CADEPN",
      "SELECT COUNT(*), MIN(NUMLAN), MAX(NUMLAN), SUM(VALLAN), SUM(MESLAN) FROM TB_CTG_CADLAN",
      "SELECT NOLANCA FROM TB_CTG_NUMLAN WHERE CODEMP = 1",
      "SELECT SUM(SLDD12), SUM(SLDC12), SUM(SLDD11 + SLDC11) FROM TB_CTG_CADPLA",
      "SELECT COUNT(*), SUM(VALFAT) FROM TB_REC_CADFAT",
      "SELECT COUNT(*), SUM(VALDUP) FROM TB_REC_CADDUP",
      "SELECT COUNT(*), SUM(MES12) FROM TB_VDA_VENPRO",
      "SELECT COUNT(*), SUM(QTDEST) FROM TB_EST_SALDO",
      "SELECT COUNT(*), SUM(QTDMOV) FROM TB_EST_MOVEST",
      "SELECT COUNT(*) FROM RETORNOLANCA",
      "SELECT COUNT(*) FROM TB_GER_LOGSYS",
      "SELECT COUNT(*) FROM TB_GER_ERRQUBO",
  };
  std::vector<std::string> out;
  for (const char* q : kQueries) {
    RecordSet rs;
    rs.Open(q, c);
    std::string row = q;
    for (int i = 0; !rs.Eof() && i < rs.FieldCount(); ++i) {
      const Value v = rs.FieldAt(i);
      row += " | " + (v.IsNull() ? std::string("<null>") : v.DisplayText());
    }
    out.push_back(row);
  }
  c.Close();
  return out;
}

bool IsRetornoLanca(const std::string& family) {
  std::string up = family;
  for (char& ch : up) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return up.find("RETORNOLANCA") != std::string::npos;
}

void PrintProfile(const ReplayProfile& p) {
  std::printf("  where the database's time goes (replay, %s statements in %.2f s):\n",
              Thousands(p.statements).c_str(), p.statements_ns / 1e9);
  std::printf("   share   total s     count    mean us  first 10%% us  last 10%% us  family\n");
  size_t shown = 0;
  uint64_t rest_ns = 0, rest_count = 0;
  for (const FamilyTimes& f : p.families) {
    if (shown < 14) {
      std::printf("  %5.1f%%  %8.3f  %8s  %9.1f  %12.1f  %11.1f  %s\n",
                  100.0 * f.total_ns / p.statements_ns, f.total_ns / 1e9,
                  Thousands(f.count).c_str(), f.total_ns / 1e3 / f.count, f.first_ns / 1e3,
                  f.last_ns / 1e3, ShortFamily(f.family, 78).c_str());
      ++shown;
    } else {
      rest_ns += f.total_ns;
      rest_count += f.count;
    }
  }
  if (rest_count) {
    std::printf("  %5.1f%%  %8.3f  %8s  %9.1f  %12s  %11s  (%zu other families)\n",
                100.0 * rest_ns / p.statements_ns, rest_ns / 1e9, Thousands(rest_count).c_str(),
                rest_ns / 1e3 / rest_count, "", "", p.families.size() - shown);
  }
}

// The batch's own summary line ("... cancelados em X s ..."), if it wrote one.
std::string SummaryLine(const fs::path& stderr_file) {
  const std::string err = fs::exists(stderr_file) ? test::ReadFile(stderr_file.string()) : "";
  const auto at = err.find(" empenhos cancelados em");
  if (at == std::string::npos || at == 0) return "";
  const auto b = err.rfind(' ', at - 1);  // before the count
  const size_t from = b == std::string::npos ? 0 : b + 1;
  const auto e = err.find_first_of(";\n", at);
  return err.substr(from, e == std::string::npos ? std::string::npos : e - from);
}

// A copy of a database file the server can open (its files belong to user
// firebird); for the embedded engine a plain copy.
void CopyDatabase(const fs::path& from, const fs::path& to, bool server) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  if (!server) return;
  const passwd* fb = ::getpwnam("firebird");
  if (!fb || ::chown(to.c_str(), fb->pw_uid, fb->pw_gid) != 0) {
    throw std::runtime_error("cannot hand " + to.string() + " to user firebird");
  }
}

// Runs one mode on the database of `db` (restored from `pristine` before
// every run).
Outcome RunMode(test::TestDb& db, int n, const Mode& mode, const fs::path& pristine,
                const Options& opt, test::Relay* relay) {
  Outcome o;
  o.n = n;
  o.mode = mode.name;
  const std::string prefix = opt.server ? test::ServerPrefix() : "";
  // Both runs reach the server through the relay.
  const std::string via = relay ? "127.0.0.1/" + std::to_string(relay->Porta()) + ":" : prefix;
  const fs::path base = db.Location().substr(prefix.size());
  const fs::path replay_db = db.Dir() / ("replay-" + mode.name + ".fdb");
  const int repeat = mode.retorno.empty() && n > kPerEntryRepeatUpTo ? 1 : opt.repeat;

  test::BatchRunner runner(db, "run-" + mode.name, RunLine(n));
  if (relay) runner.WriteDefault("TIPO=2;DBNAME=" + via + base.string(), "SYSDBA", db.Password());
  const fs::path dir = runner.Dir();
  const fs::path capture = dir / "statements.trace";
  const fs::path profile_file = dir / "profile.txt";
  std::printf("\n-- %s, mode %s%s\n", Thousands(n).c_str(), mode.name.c_str(),
              repeat < opt.repeat ? " (once at this size)" : "");

  auto batch_spec = [&](const fs::path& capture_to) {
    return ChildSpec{opt.batch,
                     {},
                     dir,
                     {{"KZ_QUBO_DIR", dir.string()},
                      {"KZ_SQL_TRACE", capture_to.string()},
                      {"KZ_RETORNO", mode.retorno},
                      {"KZ_ENVIO", mode.envio}},
                     dir / "stderr.txt"};
  };
  auto replay_spec = [&](const fs::path& capture_from) {
    return ChildSpec{
        SelfExe(),
        {"--replay", capture_from.string(), via + replay_db.string(), profile_file.string()},
        dir,
        {{"KZ_SQL_TRACE", ""}},
        dir / "replay-stderr.txt"};
  };
  auto check = [&](const ChildRun& run, const char* what, const char* err_file) {
    if (run.status == 0) return;
    throw std::runtime_error(std::string(what) + " ended with status " +
                             std::to_string(run.status) + ": " +
                             test::ReadFile((dir / err_file).string()));
  };

  // With --together the replay of one run's capture and the next run of the
  // batch start at the same moment, so that both meet the same load from
  // whatever else the machine runs; a first run of the batch makes the
  // capture.
  const fs::path previous = dir / "previous.trace";
  fs::path replayed = capture;
  if (opt.together) {
    CopyDatabase(pristine, base, opt.server);
    fs::remove(capture);
    const ChildRun first = RunChild(batch_spec(capture));
    check(first, "the batch", "stderr.txt");
    std::printf("  capture run: batch %.2f s (cpu %.2f s)\n", first.seconds, first.cpu_seconds);
    o.solo_s = first.seconds;
    replayed = previous;
  }

  std::vector<double> ratios, cpu_ratios, batch_s, replay_s, batch_cpu, replay_cpu, rodadas;
  ReplayRun last;
  for (int r = 0; r < repeat; ++r) {
    // Both runs start from the same file.
    CopyDatabase(pristine, base, opt.server);
    CopyDatabase(pristine, replay_db, opt.server);
    ChildRun batch, replay;
    const int64_t rodadas_antes = relay ? relay->Rodadas() : 0;
    if (opt.together && !mode.Bloco()) {
      fs::rename(capture, previous);
      const auto runs = RunChildren({batch_spec(capture), replay_spec(previous)});
      batch = runs[0];
      replay = runs[1];
    } else {
      fs::remove(capture);
      batch = RunChild(batch_spec(capture));
      check(batch, "the batch", "stderr.txt");
      if (relay) rodadas.push_back(double(relay->Rodadas() - rodadas_antes) / n);
      // A block's values are not in the capture: the block modes are
      // compared with their statement-by-statement twins instead.
      if (!mode.Bloco()) replay = RunChild(replay_spec(capture));
    }
    check(batch, "the batch", "stderr.txt");
    batch_s.push_back(batch.seconds);
    batch_cpu.push_back(batch.cpu_seconds);
    o.batch_kib = std::max(o.batch_kib, batch.peak_kib);
    if (mode.Bloco()) {
      std::printf(
          "  run %d: batch %.2f s (cpu %.2f s)%s\n", r + 1, batch.seconds, batch.cpu_seconds,
          rodadas.empty()
              ? ""
              : (", " + std::to_string(rodadas.back()).substr(0, 5) + " round trips per commitment")
                    .c_str());
      continue;
    }
    check(replay, "the replay", "replay-stderr.txt");
    last = ReadReplayRun(profile_file.string());
    replay_s.push_back(replay.seconds);
    replay_cpu.push_back(replay.cpu_seconds);
    ratios.push_back(batch.seconds / replay.seconds);
    cpu_ratios.push_back(batch.cpu_seconds / replay.cpu_seconds);
    o.replay_kib = std::max(o.replay_kib, replay.peak_kib);
    std::printf(
        "  run %d: batch %.2f s (cpu %.2f s), replay %.2f s (cpu %.2f s), ratio %.3f "
        "(cpu %.3f)%s\n",
        r + 1, batch.seconds, batch.cpu_seconds, replay.seconds, replay.cpu_seconds,
        batch.seconds / replay.seconds, batch.cpu_seconds / replay.cpu_seconds,
        rodadas.empty()
            ? ""
            : (", " + std::to_string(rodadas.back()).substr(0, 5) + " round trips per commitment")
                  .c_str());
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  };
  o.batch_s = median(batch_s);
  if (!opt.together || mode.Bloco()) o.solo_s = o.batch_s;
  o.batch_cpu = median(batch_cpu);
  if (!rodadas.empty()) o.rodadas = median(rodadas);
  o.fingerprint = Fingerprint(prefix + base.string(), db.Password());
  const std::string summary = SummaryLine(dir / "stderr.txt");
  if (mode.Bloco()) {
    std::printf("  batch : %.2f s wall, cpu %.2f s, %.0f commitments/s, peak memory %.1f MiB%s%s\n",
                o.batch_s, o.batch_cpu, n / o.solo_s, Mib(o.batch_kib),
                summary.empty() ? "" : "; it says: ", summary.c_str());
    return o;
  }
  o.replay_s = median(replay_s);
  o.replay_cpu = median(replay_cpu);
  o.ratio = median(ratios);
  o.cpu_ratio = median(cpu_ratios);
  o.same_state = o.fingerprint == Fingerprint(prefix + replay_db.string(), db.Password());
  if (!opt.keep.empty()) {
    const fs::path to = fs::path(opt.keep) / (std::to_string(n) + "-" + mode.name);
    fs::create_directories(to);
    for (const fs::path& f : {pristine, replayed, profile_file, dir / "stderr.txt"})
      fs::copy_file(f, to / f.filename(), fs::copy_options::overwrite_existing);
  }
  const ReplayProfile profile = Profile(replayed.string(), last);
  uint64_t lookup_ns = 0;
  for (const FamilyTimes& f : profile.families)
    if (IsRetornoLanca(f.family)) lookup_ns += f.total_ns;
  o.lookup_share = profile.statements_ns ? double(lookup_ns) / profile.statements_ns : 0;

  std::printf("  batch : %.2f s wall, cpu %.2f s, %.0f commitments/s, peak memory %.1f MiB%s%s\n",
              o.batch_s, o.batch_cpu, n / o.solo_s, Mib(o.batch_kib),
              summary.empty() ? "" : "; it says: ", summary.c_str());
  std::printf(
      "  replay: %.2f s wall, cpu %.2f s, peak memory %.1f MiB; last run: attach %.3f s, "
      "statements %.2f s, commit %.3f s, detach %.3f s%s\n",
      o.replay_s, o.replay_cpu, Mib(o.replay_kib), last.attach_ns / 1e9,
      profile.statements_ns / 1e9, last.commit_ns / 1e9, last.detach_ns / 1e9,
      last.skipped ? " (bound inserts skipped)" : "");
  std::printf(
      "  ratio batch/replay: %.3f wall, %.3f cpu (target <= %.2f: %s); same end state: %s\n",
      o.ratio, o.cpu_ratio, kRatioTarget, o.ratio <= kRatioTarget ? "met" : "MISSED",
      o.same_state ? "yes" : "NO");
  std::printf("  RetornoLanca lookups and deletes: %.0f%% of the database's time\n",
              100 * o.lookup_share);
  PrintProfile(profile);
  return o;
}

// Builds the database of `n` commitments and runs every mode on it.
std::vector<Outcome> RunSize(int n, const Options& opt) {
  test::TestDb db(opt.server);
  const std::string prefix = opt.server ? test::ServerPrefix() : "";
  const auto b0 = std::chrono::steady_clock::now();
  BuildBooks(db, n);
  const double build_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - b0).count();
  const fs::path pristine = db.Dir() / "pristine.fdb";
  CopyDatabase(db.Location().substr(prefix.size()), pristine, opt.server);
  std::printf(
      "\n== %s commitments (3 items and 3 payments each; database %.1f MB, built in "
      "%.1f s)\n",
      Thousands(n).c_str(), fs::file_size(pristine) / 1e6, build_s);
  std::optional<test::Relay> relay;
  if (opt.server) relay.emplace(test::ServerPort(), std::chrono::microseconds(opt.atraso_us));
  std::vector<Outcome> out;
  for (const Mode& mode : opt.modes) {
    out.push_back(RunMode(db, n, mode, pristine, opt, relay ? &*relay : nullptr));
  }
  // Every mode must leave the same books; a block mode is measured against
  // the same return-queue mode statement by statement.
  for (const Outcome& o : out) {
    if (o.fingerprint != out[0].fingerprint) {
      std::printf("\n  mode %s: end state differs from mode %s\n", o.mode.c_str(),
                  out[0].mode.c_str());
    }
  }
  for (Outcome& o : out) {
    if (o.mode == kBloco.name || o.mode == kBlocoLote.name) {
      o.same_state = o.fingerprint == out[0].fingerprint;
      const std::string twin = o.mode == kBloco.name ? kPerEntry.name : kLote.name;
      for (const Outcome& t : out) {
        if (t.mode != twin) continue;
        std::printf("  %s against %s: %.2f times as fast (%.2f s against %.2f s)", o.mode.c_str(),
                    twin.c_str(), t.solo_s / o.solo_s, o.solo_s, t.solo_s);
        if (o.rodadas > 0) {
          std::printf("; %.1f round trips per commitment against %.1f", o.rodadas, t.rodadas);
        }
        std::printf("\n");
      }
    }
  }
  return out;
}

// The block modes' targets: at least this many times as fast as the same
// return-queue mode statement by statement, with a latency of about 1 ms each
// way; on loopback; embedded (not slower).
constexpr double kBlocoComAtraso = 10;
constexpr double kBlocoLoopback = 1.5;
constexpr double kBlocoEmbutido = 1.0;

// The block mode's table, against its statement-by-statement twin; false when
// a target is missed.
bool SummaryBloco(const Mode& mode, const std::vector<Outcome>& all, const Options& opt) {
  const std::string twin = mode.retorno.empty() ? kPerEntry.name : kLote.name;
  const double target = !opt.server            ? kBlocoEmbutido
                        : opt.atraso_us >= 500 ? kBlocoComAtraso
                                               : kBlocoLoopback;
  std::printf("\n  mode %s (KZ_ENVIO=bloco%s), against %s\n", mode.name.c_str(),
              mode.retorno.empty() ? "" : ", KZ_RETORNO=lote", twin.c_str());
  std::printf(
      "  commitments  alone s  commitments/s  %s s  times as fast  round trips/commitment"
      "  batch MiB  same end state\n",
      twin.c_str());
  bool ok = true;
  for (const Outcome& o : all) {
    if (o.mode != mode.name) continue;
    for (const Outcome& t : all) {
      if (t.mode != twin || t.n != o.n) continue;
      const double vezes = t.solo_s / o.solo_s;
      std::printf("  %11s  %7.2f  %13.0f  %7.2f  %13.2f  %10.1f (%s: %.1f)  %9.1f  %s\n",
                  Thousands(o.n).c_str(), o.solo_s, o.n / o.solo_s, t.solo_s, vezes, o.rodadas,
                  twin.c_str(), t.rodadas, Mib(o.batch_kib), o.same_state ? "yes" : "NO");
      ok = ok && vezes >= target && o.same_state;
    }
  }
  std::printf("  at least %.1f times as fast%s at every size: %s\n", target,
              !opt.server ? " (embedded: not slower)" : "", ok ? "met" : "MISSED");
  return ok;
}

// Prints one mode's table and checks its targets; false when one is missed.
bool Summary(const Mode& mode, const std::vector<Outcome>& outcomes, bool server) {
  std::printf("\n  mode %s%s\n", mode.name.c_str(),
              mode.retorno.empty() ? " (KZ_RETORNO unset)" : " (KZ_RETORNO=lote)");
  std::printf(
      "  commitments  alone s  commitments/s  batch s  replay s  ratio  cpu ratio  batch MiB  "
      "replay MiB  RetornoLanca share\n");
  bool ok = true;
  for (const Outcome& o : outcomes) {
    std::printf("  %11s  %7.2f  %13.0f  %7.2f  %8.2f  %5.3f  %9.3f  %9.1f  %10.1f  %17.0f%%\n",
                Thousands(o.n).c_str(), o.solo_s, o.n / o.solo_s, o.batch_s, o.replay_s, o.ratio,
                o.cpu_ratio, Mib(o.batch_kib), Mib(o.replay_kib), 100 * o.lookup_share);
    ok = ok && o.ratio <= kRatioTarget && o.same_state;
  }
  std::printf("  ratio batch/replay <= %.2f at every size: %s\n", kRatioTarget,
              std::all_of(outcomes.begin(), outcomes.end(),
                          [](const Outcome& o) { return o.ratio <= kRatioTarget; })
                  ? "met"
                  : "MISSED");
  // The deferred mode's own targets hold for the embedded engine.
  const bool targets = mode.retorno == kLote.retorno && !server;
  std::map<int, const Outcome*> by_n;
  for (const Outcome& o : outcomes) by_n[o.n] = &o;
  if (by_n.count(1000) && by_n.count(5000)) {
    const Outcome& a = *by_n[1000];
    const Outcome& b = *by_n[5000];
    const double time_growth = b.solo_s / a.solo_s;
    std::printf("  time at 5,000 / at 1,000: %.2f", time_growth);
    if (targets) {
      std::printf(" (target <= %.1f: %s)", kGrowthTarget,
                  time_growth <= kGrowthTarget ? "met" : "MISSED");
      ok = ok && time_growth <= kGrowthTarget;
    }
    std::printf("\n");
    // Through a server the batch's process holds the program's own memory
    // only, and it must stay flat. Embedded it also holds the engine and its
    // page cache, which grow the same in the replay process doing the same
    // work: there what the batch holds beyond the replay is the program's
    // own, and that must not grow.
    const double growth = double(b.batch_kib) / a.batch_kib;
    const double own_growth_mib = Mib(b.batch_kib - b.replay_kib) - Mib(a.batch_kib - a.replay_kib);
    const bool memory_ok =
        server ? growth <= kMemoryGrowthTarget : own_growth_mib <= kOwnMemoryGrowthMib;
    std::printf("  batch peak memory at 5,000 / at 1,000: %.2f%s\n", growth,
                server ? (growth <= kMemoryGrowthTarget ? " (target <= 1.2: met)"
                                                        : " (target <= 1.2: MISSED)")
                       : " (embedded: the engine's page cache grows with it)");
    std::printf(
        "  replay peak memory at 5,000 / at 1,000: %.2f; batch minus replay: %+.1f MiB at "
        "1,000, %+.1f MiB at 5,000%s\n",
        double(b.replay_kib) / a.replay_kib, Mib(a.batch_kib - a.replay_kib),
        Mib(b.batch_kib - b.replay_kib),
        server ? "" : (memory_ok ? " (grows <= 2 MiB: met)" : " (grows <= 2 MiB: MISSED)"));
    ok = ok && memory_ok;
  }
  if (targets && by_n.count(20000)) {
    const double t = by_n[20000]->solo_s;
    std::printf("  20,000 commitments in %.0f s (target <= %.0f s: %s)\n", t, kBigTarget,
                t <= kBigTarget ? "met" : "MISSED");
    ok = ok && t <= kBigTarget;
  }
  if (outcomes.size() >= 2 && by_n.begin()->first >= 1000) {
    // Least squares t = a*N + b*N^2: in the per-entry mode the lookups of
    // RetornoLanca make the time per commitment grow with the number already
    // posted.
    double s2 = 0, s3 = 0, s4 = 0, t1 = 0, t2 = 0;
    for (const Outcome& o : outcomes) {
      const double x = o.n;
      s2 += x * x;
      s3 += x * x * x;
      s4 += x * x * x * x;
      t1 += x * o.solo_s;
      t2 += x * x * o.solo_s;
    }
    const double det = s2 * s4 - s3 * s3;
    const double a = (t1 * s4 - t2 * s3) / det;
    const double b = (s2 * t2 - s3 * t1) / det;
    if (b > 0) {
      std::printf("  one run of N commitments takes about %.3g*N + %.3g*N^2 s:", a, b);
      for (int n : {1000, 5000, 20000, 50000}) {
        const double t = a * n + b * n * n;
        std::printf(" %s: %.0f s%s;", Thousands(n).c_str(), t, by_n.count(n) ? "" : " (est.)");
      }
      std::printf("\n");
    }
  }
  return ok;
}

int Usage() {
  std::fprintf(
      stderr,
      "usage: kz-bench [--big] [--sizes N,N,...] [--modes per-entry,lote,bloco,bloco-lote]\n"
      "                [--repeat K] [--together] [--keep DIR] [--server]\n"
      "                [--atraso-us U] [--batch EXECUTABLE]\n"
      "       kz-bench --replay CAPTURE DATABASE PROFILE\n");
  return 2;
}

int Main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--replay") {
    if (args.size() != 4) return Usage();
    WriteReplayRun(Replay(args[1], args[2]), args[3]);
    return 0;
  }
  Options opt;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--big") {
      opt.sizes.push_back(20000);
    } else if (args[i] == "--sizes" && i + 1 < args.size()) {
      opt.sizes.clear();
      std::string list = args[++i];
      for (size_t b = 0; b <= list.size();) {
        size_t e = list.find(',', b);
        if (e == std::string::npos) e = list.size();
        opt.sizes.push_back(std::stoi(list.substr(b, e - b)));
        b = e + 1;
      }
    } else if (args[i] == "--modes" && i + 1 < args.size()) {
      const std::string list = "," + args[++i] + ",";
      opt.modes.clear();
      for (const Mode& m : kModes)
        if (list.find("," + m.name + ",") != std::string::npos) opt.modes.push_back(m);
      if (opt.modes.empty()) return Usage();
    } else if (args[i] == "--batch" && i + 1 < args.size()) {
      opt.batch = args[++i];
    } else if (args[i] == "--together") {
      opt.together = true;
    } else if (args[i] == "--server") {
      opt.server = true;
    } else if (args[i] == "--atraso-us" && i + 1 < args.size()) {
      opt.atraso_us = std::max(0, std::stoi(args[++i]));
      opt.server = true;
    } else if (args[i] == "--keep" && i + 1 < args.size()) {
      opt.keep = args[++i];
    } else if (args[i] == "--repeat" && i + 1 < args.size()) {
      opt.repeat = std::max(1, std::stoi(args[++i]));
    } else {
      return Usage();
    }
  }
  // Progress shows as it comes, also when the output goes to a file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // Only the batch captures its statements, never this process.
  ::unsetenv("KZ_SQL_TRACE");

  std::printf("kz-bench: the batch (%s) against a replay of its own statements\n",
              opt.batch.c_str());
  std::vector<Outcome> all;
  for (int n : opt.sizes) {
    for (Outcome& o : RunSize(n, opt)) all.push_back(std::move(o));
  }

  std::printf(
      "\n== Summary (%s)\n",
      !opt.server ? "embedded"
      : opt.atraso_us > 0
          ? ("through the server, " + std::to_string(opt.atraso_us) + " us added each way").c_str()
          : "through the server on 127.0.0.1");
  if (opt.together) {
    std::printf("  (alone: the capture run; batch and replay: ran side by side)\n");
  }
  bool ok = true;
  for (const Mode& mode : opt.modes) {
    if (mode.Bloco()) {
      ok = SummaryBloco(mode, all, opt) && ok;
      continue;
    }
    std::vector<Outcome> outcomes;
    for (const Outcome& o : all)
      if (o.mode == mode.name) outcomes.push_back(o);
    ok = Summary(mode, outcomes, opt.server) && ok;
  }
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace kz::bench

int main(int argc, char** argv) {
  try {
    return kz::bench::Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kz-bench: %s\n", e.what());
    return 3;
  }
}
