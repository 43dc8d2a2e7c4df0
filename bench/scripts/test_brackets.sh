# [ ] tests: string and number comparisons in conditions.
n=$1 i=0 a=0 b=0 c=0 s=abc e=
while [ $i -lt $n ]; do
  if [ "$s" = abc ]; then a=$((a + 1)); fi
  if [ -n "$s" ] && [ $i -ge 100 ]; then b=$((b + 1)); fi
  [ "$s" != xyz ] && [ -z "$e" ] && c=$((c + 1))
  i=$((i + 1))
done
echo $a $b $c
