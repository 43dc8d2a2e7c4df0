# A pipeline into tr per round (a builtin in vek, a program in the peers).
n=$1 i=0
while [ $i -lt $n ]; do
  echo "item $i" | tr '[a-z]' '[A-Z]'
  i=$((i + 1))
done
echo $i
