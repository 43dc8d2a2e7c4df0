# Command substitution: one $(...) of a builtin per round.
n=$1 i=0 t=0
while [ $i -lt $n ]; do
  x=$(echo "v$i")
  i=$((i + 1))
done
echo $x
