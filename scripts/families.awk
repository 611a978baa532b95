# Finds the animals of a relationship file that stop a PARCLAS run.
#
#   awk -f families.awk ped.txt
#
# For every animal it walks up through all its ancestors. It prints
#   "family too large" for an animal whose family (the animal and all its
#     ancestors) has more than 500 members, with that number;
#   "own ancestor" for an animal that comes back when following its
#     parents upwards (a pedigree loop; an animal that is its own sire or
#     dam included).
# Each line also gives the animal's number and identifier. Animals are
# listed in the order of the file.
{
  sire[$1] = $2
  dam[$1] = $3
  id[$1] = $NF
  order[NR] = $1
}
END {
  for (i = 1; i <= NR; i++) {
    a = order[i]
    members = 1
    loop = 0
    top = 0
    seen[a] = i
    stack[++top] = a
    while (top > 0) {
      x = stack[top--]
      for (k = 1; k <= 2; k++) {
        p = (k == 1) ? sire[x] : dam[x]
        if (p == "" || p == 0) continue
        if (p == a) loop = 1
        if (seen[p] == i) continue
        seen[p] = i
        members++
        stack[++top] = p
      }
    }
    if (members > 500) print "family too large", a, id[a], members
    if (loop) print "own ancestor", a, id[a]
  }
}
