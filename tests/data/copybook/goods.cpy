*> 商品 (goods): free form, names in Shift_JIS
01 商品.
   05 ｺｰﾄﾞ pic x(4).   *> half-width katakana name
   05 品名　pic n(3).
   05 表示 PIC G(2) usage display-1.
   05 ソ   pic X(5).
   05 金額 usage packed-decimal.
      10 単価 PIC S9(5)V99.
      10 数量 PIC 9(4).
   05 明細 occurs 2 times indexed by IX.
      10 数 pic s9(3) value +1.
