#include "simulator/scenario/default_scenario.h"

namespace Simulator {

// A chip small enough to fill: the six key types on two modules take 11 entries, the wider
// web rule 2 more, and a rule on two more VLANs finds the TCAM full until a delete makes room.
// Traffic to two rules flows through an agent killed in the middle of a delete (a supervisor
// starts it again warm), a warm restart on top of that one, and the flash download.
const char* const defaultScenarioText = R"json({
  "chip": {"natEntries": 16, "pipes": 2, "copiesPerPipe": 1},
  "modules": [1, 2],
  "flashDownloadDone": true,
  "steps": [
    {"add": {"uid": 1, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1",
             "nextHop": 5}},
    {"add": {"uid": 2, "type": "staticDestNat", "dst": "203.0.113.5:80",
             "dstNew": "10.0.0.5:8080", "protocol": 6, "vlans": [10]}},
    {"add": {"uid": 3, "type": "twiceSrcNat", "src": "10.0.0.2", "srcNew": "192.0.2.2",
             "dst": "198.51.100.7", "dstNew": "198.51.100.8",
             "protocol": 6, "keys": [{}, {"protocol": 17}]}},
    {"add": {"uid": 4, "type": "twiceDestNat", "src": "198.51.100.9", "srcNew": "198.51.100.10",
             "dst": "203.0.113.6", "dstNew": "10.0.0.6", "vlans": [10, 20]}},
    {"add": {"uid": 5, "type": "dynamicSrcNat", "src": "10.0.0.3:1000",
             "srcNew": "192.0.2.3:3000", "dst": "8.8.8.8:53", "dstNew": "8.8.8.8:53",
             "dynProto": 17, "modules": [1]}},
    {"add": {"uid": 6, "type": "dynamicDestNat", "src": "8.8.4.4:53", "srcNew": "8.8.4.4:53",
             "dst": "192.0.2.4:3000", "dstNew": "10.0.0.4:1000", "dynProto": 17,
             "vlans": [20], "nextHop": "drop"}},
    {"show": 1},
    {"verify": 1},
    {"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "198.51.100.7:40000",
                "dst": "203.0.113.5:80", "tcpFlags": ["syn"]}},
    {"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "198.51.100.7:40000",
                "dst": "203.0.113.5:80", "fragment": "later"}},
    {"packet": {"module": 1, "vlan": 30, "proto": 6, "src": "198.51.100.7:40000",
                "dst": "203.0.113.5:80"}},
    {"update": {"uid": 2, "type": "staticDestNat", "dst": "203.0.113.5:80",
                "dstNew": "10.0.0.5:8080", "protocol": 6, "vlans": [10, 20]}},
    {"add": {"uid": 7, "type": "staticDestNat", "dst": "203.0.113.7:443",
             "dstNew": "10.0.0.7:8443", "protocol": 6, "vlans": [30, 40]}},
    {"delete": 6},
    {"retry": 7},
    {"packet": {"module": 2, "vlan": 40, "proto": 6, "src": "198.51.100.7:40001",
                "dst": "203.0.113.7:443"}},
    {"traffic": {"flows": [
        {"module": 1, "vlan": 10, "proto": 6, "src": "198.51.100.7:40000",
         "dst": "203.0.113.5:80"},
        {"module": 2, "vlan": 40, "proto": 6, "src": "198.51.100.7:40001",
         "dst": "203.0.113.7:443"}], "rate": 20000}},
    {"crash": {"at": "sdkCall", "calls": 3}},
    {"delete": 4},
    {"restart": "warm"},
    {"packet": {"module": 2, "vlan": 20, "proto": 6, "src": "198.51.100.7:40001",
                "dst": "203.0.113.5:80"}},
    {"flashDownload": true},
    {"packet": {"module": 2, "vlan": 20, "proto": 6, "src": "198.51.100.7:40001",
                "dst": "203.0.113.5:80"}},
    {"verify": 1},
    {"verify": 2}
  ]
})json";

}  // namespace Simulator
