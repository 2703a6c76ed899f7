# Writes the sample plain file: about 200 kB of generated mixed text, English
# and Russian lines with numbers, in an order drawn from a fixed seed. It is
# the same on every machine and in every checkout, so the sample output shown
# in README stays what the program prints for it.
cmake_minimum_required(VERSION 3.20)

set(lines
  "The bench packs a file into codes and unpacks it again."
  "Each code names a phrase that the dictionary already holds"
  "and the byte that ends a match begins the next phrase."
  "A full dictionary is emptied and started afresh,"
  "and the stream says so with a reset code."
  "Codes start two bits wide and grow only when a code needs more."
  "Словарь растёт на одну фразу с каждым кодом"
  "и очищается, когда заполнен."
  "Упаковка, распаковка и сравнение файлов"
  "идут одна за другой, время каждой серии измеряется."
  "Степень сжатия зависит от данных и от размера словаря."
  "order"
  "invoice"
  "total"
  "ratio"
  "phrase"
  "entry"
  "reset"
  "width"
  "of the file"
  "in the stream"
  "at the end of the block"
  "заказ"
  "счёт"
  "итого"
  "фраза")
list(LENGTH lines count)

set(x 20261209)
set(text "")
set(size 0)
while(size LESS 200000)
  math(EXPR x "(${x} * 1103515245 + 12345) % 2147483648")
  math(EXPR pick "(${x} / 65536) % ${count}")
  list(GET lines ${pick} piece)
  math(EXPR number "(${x} / 8) % 10000")
  math(EXPR shape "${x} % 8")
  if(shape EQUAL 0)
    string(APPEND piece " ${number}.\n")
  elseif(shape EQUAL 1)
    string(APPEND piece "\n")
  else()
    string(APPEND piece " ")
  endif()
  string(APPEND text "${piece}")
  string(LENGTH "${piece}" length)
  math(EXPR size "${size} + ${length}")
endwhile()
file(WRITE ${OUT} "${text}")
