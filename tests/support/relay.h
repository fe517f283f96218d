#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace kz::test {

// A TCP relay on a port of 127.0.0.1 to the test server's port, whose line
// the test can break as a network would: each connection is copied both ways
// by two threads until the test changes its mode.
class Relay {
 public:
  // The mode of the connections open when it is set; later ones pass, unless
  // it is kMudo.
  enum class Modo {
    kPassa,           // both ways
    kPerdeRespostas,  // the server's answers are dropped; requests still arrive
    kCongela,         // nothing moves either way
    kMudo,            // the same, and new connections are accepted but never answered
  };

  // `atraso`: how long each piece waits before it is passed on, each way (a
  // network's latency; the benchmark's).
  explicit Relay(int porta_do_servidor,
                 std::chrono::microseconds atraso = std::chrono::microseconds(0));
  ~Relay();
  int Porta() const { return porta_; }
  void Muda(Modo modo);
  // Round trips so far: the pieces of request passed on, on any connection.
  int64_t Rodadas() const { return rodadas_; }

 private:
  Modo ModoDe(size_t conexao) const;
  void Copia(size_t conexao, int de, int para, bool respostas);

  int destino_, escuta_, porta_ = 0;
  std::chrono::microseconds atraso_;
  std::atomic<int64_t> rodadas_{0};
  std::atomic<Modo> modo_{Modo::kPassa};
  std::atomic<size_t> conexoes_{0}, mudou_com_{0};  // connections, and their count at Muda
  std::atomic<bool> fim_{false};
  std::vector<int> fds_;
  std::vector<std::thread> threads_;  // two a connection
  std::thread escuta_thread_;
};

}  // namespace kz::test
