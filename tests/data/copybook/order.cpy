000100* an order record: every clause of fixed form
000200 01  ORDER-REC.
000300     05  ORDER-NO        PIC X(6).
000400     05  AMOUNT          PIC S9(7)V99 COMP-3.                     IGNORED
000500/    page break comment
000600     05  QTY             PIC 9(3)  VALUE ZERO.
000700         88  NO-QTY      VALUE 0.
000800     05  LINES OCCURS 2 TIMES.
000900         10  ITEM-CODE   PIC X(4).
001000         10  PRICE       PIC S9(5)V99 OCCURS 2.
001100     05  TOTALS COMP.
001200         10  T1          PIC S9(4).
001300         10  T2          PIC S9(9).
001310         10  T3          PIC 9(5).
001320         10  T4          PIC S9(10).
001400     05  NOTE-TEXT       PIC X(10) VALUE 'ABCDEFGHIJ
001500-    'KL'.
001600     05  SCALED          PIC 9(3)PP.
001700     05  SMALL           PIC VPP99.
001800     05  LONGNAME-WITH-C                                          ORDR0018
001900-        ONTINUATION     PIC X.
002000     05  S1 PIC S9(3) SIGN LEADING SEPARATE.
002100     05  S2 PIC S9(3) SIGN TRAILING SEPARATE CHARACTER.
002200     05  S3 PIC S9(3) LEADING.
002300     05  F1 COMP-1.
002400     05  F2 USAGE IS COMP-2.
002500     05  FILLER PIC X(2).
