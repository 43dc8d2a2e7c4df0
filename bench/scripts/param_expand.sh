# Parameter expansion: defaults, alternatives, joins and lengths.
n=$1 i=0 t=0 s=abcdefgh
while [ $i -lt $n ]; do
  a=${u:-$s}; b="${a}x${s}"; c=${b+set}; d=${#b}; e=${v:-def}
  a=${a}${i}; b=${#a}; f="<$a|$b|$c>"
  t=$((t + d + b))
  i=$((i + 1))
done
echo $t $a $b $c $e $f
