#!/usr/bin/env bash
# Builds a demo database, runs the batch on it and shows what it did; exits
# with the batch's status.
# Usage: scripts/demo.sh [build-dir | --installed] [--server]
#   --installed: the programs of the installed package (/usr/bin)
#   --server: the database on the test server (127.0.0.1, port
#     $KZ_TEST_FB_PORT, SYSDBA password $KZ_TEST_FB_PASSWORD, as
#     scripts/fbserver.sh start sets them) instead of the embedded engine;
#     the server must see DEMO_DIR by its path (a server of another root sees
#     only /tmp)
#   DEMO_DIR: the demo's folder (default: demo/ in the checkout)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
case "${1:-build}" in
  --installed) bin=/usr/bin ;;
  *) bin="$root/${1:-build}" ;;
esac
demo=${DEMO_DIR:-$root/demo}
isql=(isql-fb -q -user SYSDBA)
location=$demo/base.fdb
password=masterkey
if [ "${2:-}" = --server ]; then
  [ -n "${KZ_TEST_FB_PORT:-}" ] && [ -n "${KZ_TEST_FB_PASSWORD:-}" ] ||
    { echo "demo: --server needs KZ_TEST_FB_PORT and KZ_TEST_FB_PASSWORD (scripts/fbserver.sh start)" >&2; exit 2; }
  location=127.0.0.1/$KZ_TEST_FB_PORT:$demo/base.fdb
  password=$KZ_TEST_FB_PASSWORD
  isql+=(-password "$password")
fi
rm -rf "$demo" && mkdir -p "$demo"
# The server's user makes the database file in it.
[ "${2:-}" != --server ] || chmod 0777 "$demo"
export FIREBIRD_LOCK="$demo/lock"
mkdir -p "$FIREBIRD_LOCK"

echo "== Creating the demo database $location"
{
  echo "CREATE DATABASE '$location' DEFAULT CHARACTER SET WIN1252;"
  echo "INPUT '$root/sql/schema.sql';"
  echo "COMMIT;"
  echo "INPUT '$root/sql/demo.sql';"
  echo "COMMIT;"
} | "${isql[@]}" >/dev/null

echo "== Settings in $demo (user and password scrambled by $bin/kz-cifra)"
(
  umask 077  # the login: for its owner only
  {
    printf 'cancela-empenhos demo\r\nTIPO=2;DBNAME=%s\r\n' "$location"
    printf 'SYSDBA\n%s\n' "$password" | "$bin/kz-cifra"
  } > "$demo/default.txt"
)
printf '25/12/2017|-7|4711|4715|12\r\n' > "$demo/Tarvelinko.txt"
echo "   Tarvelinko.txt: $(tr -d '\r' < "$demo/Tarvelinko.txt")   (date|status|range|range|user)"

show() {
  "${isql[@]}" "$location" <<SQL
SET HEADING ON;
SELECT CODEPN, CLIEPN, STAEPN FROM TB_VDA_CADEPN ORDER BY CODEPN;
SELECT CODCON, CAST(NOMCON AS VARCHAR(20)) AS NOMCON, SLDD12, SLDC12, SLDD12 - SLDC12 AS SALDO12 FROM TB_CTG_CADPLA ORDER BY CODCON;
SELECT CLIFAT, CODFAT, BCOFAT, VALFAT FROM TB_REC_CADFAT ORDER BY CLIFAT, CODFAT;
SELECT CLIDUP, CODDUP, NUMPAR, VALDUP FROM TB_REC_CADDUP ORDER BY CLIDUP, CODDUP, NUMPAR;
SELECT PROVEN, ANOVEN, MES12 FROM TB_VDA_VENPRO ORDER BY PROVEN;
SELECT PROEST, QTDEST FROM TB_EST_SALDO ORDER BY PROEST;
SQL
}

echo "== Before the run"
show

echo "== Running the batch (in $demo)"
set +e
(cd "$demo" && KZ_QUBO_DIR="$demo" "$bin/cancela-empenhos")
status=$?
set -e
echo "   exit status: $status (0 committed)"

echo "== The report: $demo/Resultado do Cancelamento.txt"
tr -d '\r' < "$demo/Resultado do Cancelamento.txt"

echo "== After the run"
show
"${isql[@]}" "$location" <<SQL
SET HEADING ON;
SELECT NUMLAN, CTADEB, CTACRE, DATLAN, VALLAN, DOCLAN, CAST(HISLAN1 AS VARCHAR(28)) AS HISLAN1, CAST(HISLAN2 AS VARCHAR(20)) AS HISLAN2 FROM TB_CTG_CADLAN ORDER BY NUMLAN;
SELECT OPELOG, CAST(TABLOG AS VARCHAR(50)) AS TABLOG FROM TB_GER_LOGSYS ORDER BY SEQLOG;
SQL
exit "$status"
