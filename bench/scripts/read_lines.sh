# Reading a file line by line, splitting each line into fields.
n=0 t=0 w=0
while read a b c; do
  n=$((n + 1)); t=$(( (t + b) % 1000003 )); k=${#c}; w=$((w + k))
done < "$1"
echo $n $t $w
