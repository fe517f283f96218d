#include "tests/support/relay.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace kz::test {
namespace {

sockaddr_in Local(int porta) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(porta));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Moves what is waiting on `de` to `para` (-1: dropped); false at its end.
bool Move(int de, int para) {
  char buf[65536];
  const ssize_t n = ::recv(de, buf, sizeof buf, 0);
  for (ssize_t feito = 0, m = 0; para >= 0 && feito < n; feito += m) {
    m = ::send(para, buf + feito, static_cast<size_t>(n - feito), MSG_NOSIGNAL);
    if (m <= 0) return false;
  }
  return n > 0;
}

}  // namespace

Relay::Relay(int porta_do_servidor)
    : destino_(porta_do_servidor), escuta_(::socket(AF_INET, SOCK_STREAM, 0)) {
  sockaddr_in a = Local(0);
  socklen_t len = sizeof a;
  if (escuta_ < 0 || ::bind(escuta_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(escuta_, 16) != 0 ||
      ::getsockname(escuta_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    throw std::runtime_error("relay: cannot listen");
  }
  porta_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { Laco(); });
}

Relay::~Relay() {
  fim_ = true;
  thread_.join();
  for (const Par& p : pares_) {
    for (int fd : {p.cliente, p.servidor}) {
      if (fd >= 0) ::close(fd);
    }
  }
  ::close(escuta_);
}

void Relay::Muda(Modo modo) {
  std::lock_guard<std::mutex> l(mu_);
  for (Par& p : pares_) p.modo = modo;
  mudo_ = modo == Modo::kMudo;
}

void Relay::Laco() {
  const auto move = [](Modo m) { return m == Modo::kPassa || m == Modo::kPerdeRespostas; };
  while (!fim_) {
    std::vector<pollfd> fds{{escuta_, POLLIN, 0}};
    {
      std::lock_guard<std::mutex> l(mu_);
      for (const Par& p : pares_) {
        fds.push_back({move(p.modo) ? p.cliente : -1, POLLIN, 0});
        fds.push_back({move(p.modo) ? p.servidor : -1, POLLIN, 0});
      }
    }
    if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
    std::lock_guard<std::mutex> l(mu_);
    if (fds[0].revents & POLLIN) {
      const int cliente = ::accept(escuta_, nullptr, nullptr);
      int servidor = mudo_ ? -1 : ::socket(AF_INET, SOCK_STREAM, 0);
      const sockaddr_in a = Local(destino_);
      if (servidor >= 0 && ::connect(servidor, reinterpret_cast<const sockaddr*>(&a), sizeof a)) {
        ::close(servidor);
        servidor = -1;
      }
      // As the client library does: no small-packet delay on either side.
      const int sim = 1;
      for (int fd : {cliente, servidor})
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &sim, sizeof sim);
      if (cliente >= 0) pares_.push_back({cliente, servidor, mudo_ ? Modo::kMudo : Modo::kPassa});
    }
    // The pairs polled are the first ones of pares_ (new ones were appended);
    // the mode may have changed while poll waited.
    for (size_t i = 0; 2 * i + 2 < fds.size(); ++i) {
      Par& p = pares_[i];
      if (!move(p.modo)) continue;
      bool vivo = !(fds[2 * i + 1].revents & (POLLIN | POLLHUP)) || Move(p.cliente, p.servidor);
      if (vivo && (fds[2 * i + 2].revents & (POLLIN | POLLHUP))) {
        vivo = Move(p.servidor, p.modo == Modo::kPassa ? p.cliente : -1);
      }
      if (!vivo) {
        ::shutdown(p.cliente, SHUT_RDWR);
        ::shutdown(p.servidor, SHUT_RDWR);
        p.modo = Modo::kCongela;  // closed with the relay
      }
    }
  }
}

}  // namespace kz::test
