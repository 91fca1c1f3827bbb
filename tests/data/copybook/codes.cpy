      * Records told apart by a binary code in their first two bytes.
       01  HEAD.
           05  CODE            PIC X(2).
           05  RUN-DATE        PIC 9(8).
       01  DETAIL.
           05  CODE            PIC X(2).
           05  ITEM            PIC X(4).
           05  AMT             PIC S9(5)V99 COMP-3.
       01  SPARE.
           05  CODE            PIC X(2).
           05  FILLER          PIC X(8).
       01  OTHER.
           05  CODE            PIC X(2).
           05  AMT             PIC 9(8).
