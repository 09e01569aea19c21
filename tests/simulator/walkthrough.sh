#!/bin/sh
# The walkthrough example tells its story: a port forward that a packet hits and a packet
# to another port misses (with the entry it came nearest to), a rule too big for the TCAM
# that the listing shows partial and the diff names, an office pool whose first packet opens
# a session that the next packets hit in hardware and that goes when idle; and the run ends
# with the diff's status, 5. Usage: walkthrough.sh PROGRAM EXAMPLE
program=$1
example=$2
report=$("$program" run "$example" 2>/dev/null)
status=$?
fail() { echo "$*"; echo "$report"; exit 1; }
[ "$status" -eq 5 ] || fail "status $status, not 5"
while IFS= read -r line; do
  echo "$report" | grep -qxF -- "$line" || fail "missing: $line"
done <<'LINES'
packet module 1: entry 1 uid 1 profile 17 (staticDestNat) unchanged -> 198.51.100.7:50000 > 10.0.0.10:8443
  entry 1 uid 1 misses 1 field, first the destination port: the packet has 80, the entry takes 443
  module 1: partial: in hardware on VLANs 10,20,30,40,50,60,70, not on VLANs 80,90 (TCAM full: needs 4 more entries, 0 free); 14 entries: 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16
tcam module 1: 16 of 16 entries used, 0 free: staticDestNat 16 (2 rules); headroom: 0 more rules of 1 entry or 0 of 2
diff module 1: uid 2 VLAN 90 intended, not in hardware (TCAM full)
to the CPU: opens session 1 of pool office: 10.1.0.5:40000 > 8.8.8.8:53 proto 17 as 192.0.2.8:20000, flow uid 65535, return flow uid 65534 on VLAN 10
packet module 1: entry 3 uid 65535 profile 21 (dynamicSrcNat) unchanged -> 192.0.2.8:20000 > 8.8.8.8:53
packet module 1: entry 5 uid 65534 profile 17 (dynamicDestNat) unchanged -> 8.8.8.8:53 > 10.1.0.5:40000
diff module 1: as intended, 3 rules on 3 VLANs
no sessions
LINES
