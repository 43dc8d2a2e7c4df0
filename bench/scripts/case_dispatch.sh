# case dispatch on the last digit of a counter.
n=$1 i=0 a=0 b=0 c=0 d=0
while [ $i -lt $n ]; do
  case $i in
    *0) a=$((a + 1));;
    *[12]) b=$((b + 1));;
    *3|*4|*5) c=$((c + 1));;
    *) d=$((d + 1));;
  esac
  i=$((i + 1))
done
echo $a $b $c $d
