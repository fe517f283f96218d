#!/usr/bin/env bash
# Builds a demo database, runs the batch on it and shows what it did; exits
# with the batch's status.
# Usage: scripts/demo.sh [build-dir | --installed]
#   --installed: the programs of the installed package (/usr/bin)
#   DEMO_DIR: the demo's folder (default: demo/ in the checkout)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
case "${1:-build}" in
  --installed) bin=/usr/bin ;;
  *) bin="$root/${1:-build}" ;;
esac
demo=${DEMO_DIR:-$root/demo}
isql=(isql-fb -q -user SYSDBA)
rm -rf "$demo" && mkdir -p "$demo"
export FIREBIRD_LOCK="$demo/lock"
mkdir -p "$FIREBIRD_LOCK"

echo "== Creating the demo database $demo/base.fdb"
{
  echo "CREATE DATABASE '$demo/base.fdb' DEFAULT CHARACTER SET WIN1252;"
  echo "INPUT '$root/sql/schema.sql';"
  echo "COMMIT;"
  echo "INPUT '$root/sql/demo.sql';"
  echo "COMMIT;"
} | "${isql[@]}" >/dev/null

echo "== Settings in $demo (user and password scrambled by $bin/kz-cifra)"
(
  umask 077  # the login: for its owner only
  {
    printf 'cancela-empenhos demo\r\nTIPO=2;DBNAME=%s\r\n' "$demo/base.fdb"
    printf 'SYSDBA\nmasterkey\n' | "$bin/kz-cifra"
  } > "$demo/default.txt"
)
printf '25/12/2017|-7|4711|4715|12\r\n' > "$demo/Tarvelinko.txt"
echo "   Tarvelinko.txt: $(tr -d '\r' < "$demo/Tarvelinko.txt")   (date|status|range|range|user)"

show() {
  "${isql[@]}" "$demo/base.fdb" <<SQL
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
"${isql[@]}" "$demo/base.fdb" <<SQL
SET HEADING ON;
SELECT NUMLAN, CTADEB, CTACRE, DATLAN, VALLAN, DOCLAN, CAST(HISLAN1 AS VARCHAR(28)) AS HISLAN1, CAST(HISLAN2 AS VARCHAR(20)) AS HISLAN2 FROM TB_CTG_CADLAN ORDER BY NUMLAN;
SELECT OPELOG, CAST(TABLOG AS VARCHAR(50)) AS TABLOG FROM TB_GER_LOGSYS ORDER BY SEQLOG;
SQL
exit "$status"
