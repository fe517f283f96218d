/* Counts every attempt of a new entry's insert in G_TENTATIVAS, which a
   statement that fails and is undone does not take back. */
CREATE GENERATOR G_TENTATIVAS;
SET TERM ^ ;
CREATE TRIGGER TG_TESTE_TENTATIVAS FOR TB_CTG_CADLAN BEFORE INSERT AS
DECLARE VARIABLE N BIGINT;
BEGIN
  IF (NEW.INTLAN < 0) THEN N = GEN_ID(G_TENTATIVAS, 1);
END^
SET TERM ; ^
