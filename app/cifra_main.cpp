// kz-cifra: scrambles texts the way default.txt holds the database user name
// and password (lines 3 and 4), so that an installer can write them.
//
//   kz-cifra TEXT...     prints the scrambled form of each argument
//   kz-cifra < FILE      prints the scrambled form of each line of FILE
//
// One output line per text, ended by LF (the settings reader takes LF and
// CR LF alike). Input lines may end in LF or CR LF. Exit status 0 when every
// text was written, 1 when one could not be (longer than 257 bytes, or its
// scrambled form would hold a CR or LF and so could not be read back as one
// line); the others are still written.

#include <iostream>
#include <string>
#include <string_view>

#include "app/decifra.h"
#include "common/runtime_error.h"

namespace {

bool WriteScrambled(std::string_view texto) {
  std::string scrambled;
  try {
    scrambled = kz::Cifra(texto);
  } catch (const kz::RuntimeError& e) {
    std::cerr << "kz-cifra: " << e.Description() << "\n";
    return false;
  }
  if (scrambled.find_first_of("\r\n") != std::string::npos) {
    std::cerr << "kz-cifra: the scrambled form of a text of " << texto.size()
              << " bytes holds a line end and cannot be stored as one line\n";
    return false;
  }
  std::cout << scrambled << "\n";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool ok = true;
  if (argc > 1) {
    for (int a = 1; a < argc; ++a) ok = WriteScrambled(argv[a]) && ok;
  } else {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      ok = WriteScrambled(line) && ok;
    }
  }
  std::cout.flush();
  return ok && std::cout ? 0 : 1;
}
