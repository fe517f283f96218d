#include "tests/support/relay.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
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

}  // namespace

Relay::Relay(int porta_do_servidor, std::chrono::microseconds atraso)
    : destino_(porta_do_servidor), atraso_(atraso) {
  escuta_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Local(0);
  socklen_t len = sizeof a;
  if (escuta_ < 0 || ::bind(escuta_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(escuta_, 16) != 0 ||
      ::getsockname(escuta_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    throw std::runtime_error("relay: cannot listen");
  }
  porta_ = ntohs(a.sin_port);
  escuta_thread_ = std::thread([this] {
    for (pollfd p{escuta_, POLLIN, 0}; !fim_;) {
      if (::poll(&p, 1, 50) <= 0) continue;
      const int cliente = ::accept(escuta_, nullptr, nullptr);
      const size_t conexao = conexoes_++;
      fds_.push_back(cliente);
      if (ModoDe(conexao) == Modo::kMudo) continue;
      const int servidor = ::socket(AF_INET, SOCK_STREAM, 0);
      fds_.push_back(servidor);
      const sockaddr_in s = Local(destino_);
      ::connect(servidor, reinterpret_cast<const sockaddr*>(&s), sizeof s);
      const int sim = 1;  // as the client library does: no small-packet delay
      for (int fd : {cliente, servidor})
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &sim, sizeof sim);
      threads_.emplace_back([=, this] { Copia(conexao, cliente, servidor, false); });
      threads_.emplace_back([=, this] { Copia(conexao, servidor, cliente, true); });
    }
  });
}

Relay::~Relay() {
  fim_ = true;
  escuta_thread_.join();
  for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);  // ends every blocked recv
  for (std::thread& t : threads_) t.join();
  for (int fd : fds_) ::close(fd);
  ::close(escuta_);
}

void Relay::Muda(Modo modo) {
  mudou_com_ = conexoes_.load();
  modo_ = modo;
}

Relay::Modo Relay::ModoDe(size_t conexao) const {
  return conexao < mudou_com_ || modo_ == Modo::kMudo ? modo_.load() : Modo::kPassa;
}

// Copies what arrives on `de` to `para` while the connection's mode lets it.
void Relay::Copia(size_t conexao, int de, int para, bool respostas) {
  char buf[65536];
  for (ssize_t n; (n = ::recv(de, buf, sizeof buf, 0)) > 0;) {
    // The client waits for each answer: a piece of request is a round trip.
    if (!respostas) ++rodadas_;
    if (atraso_.count() > 0) std::this_thread::sleep_for(atraso_);
    Modo m;
    while ((m = ModoDe(conexao)) == Modo::kCongela || m == Modo::kMudo) {
      if (fim_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (respostas && m == Modo::kPerdeRespostas) continue;
    if (::send(para, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
  }
  ::shutdown(para, SHUT_RDWR);
}

}  // namespace kz::test
