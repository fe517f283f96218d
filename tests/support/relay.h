#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace kz::test {

// A TCP relay on 127.0.0.1 between the batch and the test server, whose line
// a test can break at a chosen moment.
class Relay {
 public:
  enum class Modo {
    kPassa,           // both ways
    kPerdeRespostas,  // the server's answers are dropped; requests still arrive
    kCongela,         // nothing moves either way
    kMudo,            // the same, and new connections are accepted but never answered
  };

  explicit Relay(int porta_do_servidor);
  ~Relay();
  int Porta() const { return porta_; }
  // Applies to the connections open now; new connections pass, unless kMudo.
  void Muda(Modo modo);

 private:
  struct Par {
    int cliente, servidor;  // servidor -1: silent
    Modo modo;
  };
  void Laco();

  int destino_, escuta_, porta_ = 0;
  std::mutex mu_;
  std::vector<Par> pares_;
  bool mudo_ = false;
  std::atomic<bool> fim_{false};
  std::thread thread_;
};

}  // namespace kz::test
