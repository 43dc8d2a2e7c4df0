# Function calls: ten calls of a one-line function per round.
f() { c=$((c + 1)); }
n=$1 i=0 c=0
while [ $i -lt $n ]; do
  f a; f b; f c; f d; f e; f a; f b; f c; f d; f e
  i=$((i + 1))
done
echo $c
