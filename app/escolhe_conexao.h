#pragma once

#include <string>

namespace kz {

// Completes the short connection forms of the settings ("TIPO=1"/"ZSTYLE" with
// "DATA SOURCE=", "TIPO=2"/"INTERBASE" with "DBNAME=") into full connection
// texts with the user name and password; any other text is left alone.
void EscolheConexao(std::string& StrConexao, const std::string& UsuarioBD,
                    const std::string& SenhaBD);

}  // namespace kz
