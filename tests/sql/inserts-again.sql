/* The 3rd and 10th entry inserts fail with a duplicate key after their queue
   row was written, and are run again. */
CREATE GENERATOR G_INSERTS;
SET TERM ^ ;
CREATE TRIGGER TG_CONFLITO FOR TB_CTG_CADLAN AFTER INSERT POSITION 10 AS
BEGIN
  IF (GEN_ID(G_INSERTS, 1) IN (3, 10)) THEN
    INSERT INTO TB_CTG_CADPLA (CODEMP, CODCON) VALUES (1, '1');
END^
SET TERM ; ^
