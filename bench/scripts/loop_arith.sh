# A counting loop with arithmetic: $1 rounds, two expansions of $((...)).
n=$1 i=0 s=0
while [ $i -lt $n ]; do
  s=$(( (s + i * 7) % 1000003 ))
  i=$((i + 1))
done
echo $s
