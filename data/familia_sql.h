#pragma once

#include <string>
#include <string_view>

namespace kz {

// The family of a statement, for operator messages: its verb and the table
// or procedure it works on, upper case ("UPDATE TB_CTG_CADPLA",
// "DELETE FROM RETORNOLANCA", "SELECT FROM TB_VDA_CADEPN",
// "EXECUTE PROCEDURE CANCELA_SAIDA_ESTOQUE", "EXECUTE BLOCK"). Never holds a
// value.
std::string FamiliaSql(std::string_view sql);

}  // namespace kz
