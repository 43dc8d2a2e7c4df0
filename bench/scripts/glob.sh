# File-name generation in a directory of 5000 names.
count() { k=$#; t=$((t + k)); }
n=$1 i=0 t=0
while [ $i -lt $n ]; do
  count *; count *.txt; count *7*; count a?1*; count [b-d]*.c
  i=$((i + 1))
done
echo $t
