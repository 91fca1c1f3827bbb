000100* 受注データ: variable-length records (RECFM=VB), at most 4 lines
000200  01  受注.
000300      05  受注番号          PIC X(8).
000400      05  顧客名            PIC X(20).
000500      05  明細数            PIC 9(2).
000600      05  明細              OCCURS 0 TO 4 TIMES
000700                            DEPENDING ON 明細数.
000800          10  商品          PIC X(6).
000900          10  数量          PIC 9(4).
