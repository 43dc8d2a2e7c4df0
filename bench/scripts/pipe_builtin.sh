# A two-stage pipeline of builtins per round (no output).
n=$1 i=0
while [ $i -lt $n ]; do
  echo "v$i" | read x
  i=$((i + 1))
done
echo $i
