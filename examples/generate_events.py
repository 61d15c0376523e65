#!/usr/bin/env python3
"""Writes example EDR telemetry as NDJSON: one security event per line.

    python3 examples/generate_events.py > examples/events.ndjson
    python3 examples/generate_events.py --count 1000 --seed 7 --with-malformed

Each line is one compact JSON object:

    {"eventType": ..., "throttlingId": ..., "ioas": [...], "event": {...}}

"event" is the document a host hands to the component; it repeats the event
type and the throttling id. The output depends only on --count, --seed and
--with-malformed. Every host, user, vendor, signer and domain name in it is
invented; addresses come from the documentation ranges and domains end in
".example".

Events that examples/config.json drops (see examples/README.md):
  - every "Heartbeat" event, by type;
  - the signed start of the Quillmere updater, by rule: a ProcessCreate whose
    process is named "updater.exe" (any ASCII case), lives under
    C:\\Program Files\\Quillmere\\Updater\\ and carries a valid signature of
    "Quillmere Software Ltd". Look-alikes that must NOT be dropped are also
    written: an unsigned updater.exe in a Temp folder, another vendor's
    updater.exe, a Quillmere updater whose signature is not valid, and the
    genuine updater as the actor of FileWrite, NetworkConnect, RegistrySet,
    DnsQuery and ModuleLoad events.
"""

import argparse
import base64
import hashlib
import json
import random
import sys
import uuid

THROTTLING_IDS = {
    "ProcessCreate": 1001,
    "FileWrite": 1002,
    "NetworkConnect": 1003,
    "RegistrySet": 1004,
    "DnsQuery": 1005,
    "ModuleLoad": 1006,
    "Heartbeat": 1007,
}

# How often each type occurs, in percent.
TYPE_WEIGHTS = {
    "ProcessCreate": 26,
    "FileWrite": 16,
    "NetworkConnect": 15,
    "RegistrySet": 9,
    "DnsQuery": 13,
    "ModuleLoad": 9,
    "Heartbeat": 12,
}

START_MS = 1767225600000  # 2026-01-01T00:00:00Z
AGENT_VERSION = "4.2.1"

UPDATER_SIGNER = "Quillmere Software Ltd"
UPDATER_DIR = "C:\\Program Files\\Quillmere\\Updater\\"
OS_SIGNER = "Orvane OS Publisher"

# Indicators of attack: guid, version, isMarkable, isAlertable, isQdxStatExpected.
IOA_CATALOGUE = [
    ("6b2d9e41-0c7a-4f35-b8e2-91d4a7c35f08", 3, True, True, True),
    ("a14f7c93-5e28-4b6d-9a01-3c8e5f72d4b6", 1, True, False, True),
    ("0e9b3a57-d261-48f4-a7c5-62f1e8b09d3a", 7, False, True, False),
    ("c7d05e28-93a1-4c6b-8f47-1b5e2a9d60c4", 2, False, False, False),
    ("59f3b1c6-27e4-4d08-b6a9-e0c47d2f8a15", 5, True, True, False),
    ("e2a86d04-b9f1-4735-9c3e-7a05d1b6f29e", 1, False, False, True),
    ("8d4c2f7a-61b5-4e93-a2d8-0f9e3c5b7146", 4, True, False, False),
    ("f05a9c3d-4e72-41b8-8d6f-25c9a0e7b3d1", 2, False, True, True),
]

# name, domain, sid, home folder, documents (relative to the home folder)
USERS = [
    ("jdoe", "CORP", "S-1-5-21-3623811015-3361044348-30300820-1013",
     "C:\\Users\\jdoe", ["Documents\\Q3 forecast.xlsx", "Downloads\\invoice_8812.docm",
                         "Desktop\\notes.txt"]),
    ("élodie.durand", "CORP", "S-1-5-21-3623811015-3361044348-30300820-1187",
     "C:\\Users\\élodie.durand", ["Documents\\Résumé – candidats.pdf",
                                  "Documents\\Congés 2026.xlsx", "Téléchargements\\reçu_n°4411.pdf"]),
    ("андрей.петров", "CORP", "S-1-5-21-3623811015-3361044348-30300820-1204",
     "C:\\Users\\андрей.петров", ["Документы\\отчёт_за_квартал.docx",
                                  "Рабочий стол\\план работ.txt", "src\\проект\\main.cpp"]),
    ("田中太郎", "CORP", "S-1-5-21-3623811015-3361044348-30300820-1322",
     "C:\\Users\\田中太郎", ["Documents\\見積書_2026.pdf", "Documents\\会議メモ.txt",
                           "Desktop\\売上レポート.xlsx"]),
    ("zoë.müller", "CORP", "S-1-5-21-3623811015-3361044348-30300820-1409",
     "C:\\Users\\zoë.müller", ["Desktop\\🚀 Launch plan.pptx", "Documents\\Präsentation.pptx",
                               "Documents\\Budget 2026 ✅.xlsx"]),
    ("svc-build", "CORP", "S-1-5-21-3623811015-3361044348-30300820-2001",
     "D:\\builds\\agent", ["work\\1\\s\\out\\release.zip", "work\\1\\s\\build.log",
                           "work\\1\\s\\out\\package.nupkg"]),
]
SYSTEM_USER = {"name": "SYSTEM", "domain": "BUILTIN", "sid": "S-1-5-18"}

# host name, index into USERS of its usual user
HOSTS = [
    ("WS-FIN-0231", 0),
    ("WS-HR-0114", 1),
    ("LT-DEV-0042", 2),
    ("LT-OPS-0077", 3),
    ("WS-MKT-0310", 4),
    ("SRV-BLD-07", 5),
]

# Programs: key -> (path, signer or None when unsigned)
PROGRAMS = {
    "desktop": ("C:\\System\\desktop.exe", OS_SIGNER),
    "shell": ("C:\\System\\shell.exe", OS_SIGNER),
    "script": ("C:\\System\\script.exe", OS_SIGNER),
    "svcgroup": ("C:\\System\\svcgroup.exe", OS_SIGNER),
    "scheduler": ("C:\\System\\scheduler.exe", OS_SIGNER),
    "updater": (UPDATER_DIR + "updater.exe", UPDATER_SIGNER),
    "notes": ("C:\\Program Files\\Quillmere\\Notes\\notes.exe", UPDATER_SIGNER),
    "hgsync": ("C:\\Program Files\\Harrowgate\\Sync\\hgsync.exe", "Harrowgate Labs"),
    "hgupdater": ("C:\\Program Files\\Harrowgate\\Sync\\updater.exe", "Harrowgate Labs"),
    "ledger": ("C:\\Program Files\\Brightvale\\Ledger\\ledger.exe", "Brightvale Systems"),
    "browser": ("C:\\Program Files\\Kestrune Browser\\browser.exe", "Kestrune Project"),
    "mail": ("C:\\Program Files\\Fenmark\\Mail\\fenmail.exe", "Fenmark AS"),
    "compiler": ("C:\\Tools\\Zentrik\\bin\\zcc.exe", "Zentrik Toolchain"),
}

MODULES = [
    ("C:\\System\\lib\\netcore.dll", OS_SIGNER),
    ("C:\\System\\lib\\cryptcore.dll", OS_SIGNER),
    ("C:\\System\\lib\\uikit.dll", OS_SIGNER),
    ("C:\\Program Files\\Quillmere\\Updater\\qm_patch.dll", UPDATER_SIGNER),
    ("C:\\Program Files\\Kestrune Browser\\render.dll", "Kestrune Project"),
    ("C:\\ProgramData\\cache\\x64\\helper.dll", None),
]

DOMAINS = [
    ("updates.quillmere.example", ["203.0.113.10", "203.0.113.11"]),
    ("sync.harrowgate.example", ["198.51.100.24"]),
    ("intranet.corp.example", ["10.20.0.15"]),
    ("cdn.kestrune.example", ["203.0.113.80", "203.0.113.81", "203.0.113.82"]),
    ("mail.fenmark.example", ["198.51.100.60"]),
    ("x7f3k2q9.badcdn.example", ["192.0.2.66"]),
    ("xn--bcher-kva.example", ["203.0.113.140"]),
]


def file_hashes(path):
    """Stable hashes for a path: the same binary always has the same hashes."""
    data = ("content of " + path).encode("utf-8")
    return {"sha256": hashlib.sha256(data).hexdigest(), "md5": hashlib.md5(data).hexdigest()}


def signature(signer, valid=True):
    if signer is None:
        return {"signed": False, "valid": False}
    return {"signed": True, "signer": signer, "valid": valid}


def base_name(path):
    return path.rsplit("\\", 1)[-1]


def quoted(path):
    return '"' + path + '"' if " " in path else path


class Generator:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.now = START_MS
        self.agents = {host: str(uuid.UUID(int=self.rng.getrandbits(128), version=4))
                       for host, _ in HOSTS}

    # ---- helpers -----------------------------------------------------------

    def pid(self):
        return self.rng.randrange(400, 40000, 4)

    def blob(self, low, high):
        """Base64 text of low..high random bytes."""
        size = self.rng.randint(low, high)
        return base64.b64encode(bytes(self.rng.getrandbits(8) for _ in range(size))).decode("ascii")

    def user(self, host_user):
        name, domain, sid, _, _ = USERS[host_user]
        return {"name": name, "domain": domain, "sid": sid}

    def process(self, key, command_line, user, path=None, sig=None):
        """A process of PROGRAMS[key], by default at its own path with its own signature."""
        default_path, signer = PROGRAMS[key]
        path = path or default_path
        return {
            "pid": self.pid(),
            "name": base_name(path),
            "path": path,
            "commandLine": command_line,
            "user": user,
            "integrityLevel": "System" if user is SYSTEM_USER else self.rng.choice(["Medium", "High"]),
            "startTime": self.now - self.rng.randint(10, 5000),
            "hashes": file_hashes(path),
            "signature": sig or signature(signer),
        }

    def parent(self, key, command_line=None):
        path = PROGRAMS[key][0]
        return {"pid": self.pid(), "name": base_name(path), "path": path,
                "commandLine": command_line or quoted(path)}

    def ioas(self, at_least=0):
        count = self.rng.choices([0, 1, 2, 3], weights=[45, 30, 17, 8])[0]
        count = max(count, at_least)
        chosen = self.rng.sample(IOA_CATALOGUE, count)
        return [{"guid": g, "version": v, "isMarkable": m, "isAlertable": a, "isQdxStatExpected": q}
                for g, v, m, a, q in chosen]

    def actor(self, user):
        """The process behind a file, network, registry, DNS or module event."""
        key = self.rng.choice(["browser", "mail", "notes", "ledger", "hgsync", "shell", "updater"])
        if key == "updater":
            return self.process("updater", quoted(PROGRAMS["updater"][0]) + " /silent /check",
                                SYSTEM_USER)
        if key == "shell":
            return self.process("shell", "shell.exe /c dir", user)
        return self.process(key, quoted(PROGRAMS[key][0]), user)

    # ---- event types -------------------------------------------------------

    def process_create(self, host_user, user):
        """Returns the event's own members and the minimum number of IOAs."""
        home = USERS[host_user][3]
        roll = self.rng.random()
        if roll < 0.27:
            # The benign updater, started by the scheduler: dropped by rule.
            name = "Updater.exe" if self.rng.random() < 0.15 else "updater.exe"
            path = UPDATER_DIR + name
            channel = self.rng.choice(["stable", "stable", "beta"])
            proc = self.process("updater", '"%s" /silent /check --channel %s' % (path, channel),
                                SYSTEM_USER, path=path)
            return {"process": proc, "parent": self.parent("scheduler", "scheduler.exe -service")}, 0
        if roll < 0.30:
            # Look-alike: an unsigned updater.exe run from the user's Temp folder.
            path = home + "\\AppData\\Local\\Temp\\updater.exe"
            proc = self.process("updater", quoted(path) + " --install " + self.blob(40, 120),
                                user, path=path, sig=signature(None))
            return {"process": proc, "parent": self.parent("mail")}, 1
        if roll < 0.335:
            # Look-alike: another vendor's signed updater.exe.
            proc = self.process("hgupdater", quoted(PROGRAMS["hgupdater"][0]) + " -q", SYSTEM_USER)
            return {"process": proc, "parent": self.parent("scheduler", "scheduler.exe -service")}, 0
        if roll < 0.37:
            # Look-alike: the Quillmere updater with a signature that is not valid.
            proc = self.process("updater", quoted(PROGRAMS["updater"][0]) + " /silent /check",
                                SYSTEM_USER, sig=signature(UPDATER_SIGNER, valid=False))
            return {"process": proc, "parent": self.parent("scheduler", "scheduler.exe -service")}, 1
        if roll < 0.50:
            # An encoded script: the long command lines.
            command = "script.exe -nologo -hidden -noprofile -encoded " + self.blob(300, 5500)
            return {"process": self.process("script", command, user),
                    "parent": self.parent("shell", "shell.exe /k")}, 1
        if roll < 0.58:
            # Something run from a Temp folder.
            path = home + "\\AppData\\Local\\Temp\\x7f3k2.exe"
            proc = self.process("shell", quoted(path) + " -connect x7f3k2q9.badcdn.example:8443",
                                user, path=path, sig=signature(None))
            return {"process": proc, "parent": self.parent("browser")}, 1
        if roll < 0.68:
            # A build on the developers' and build machines.
            sources = " ".join("src\\module_%02d\\unit_%03d.cpp" % (self.rng.randint(1, 40), i)
                               for i in range(self.rng.randint(5, 60)))
            command = "zcc.exe -O2 -std=c++20 -Iinclude -DNDEBUG -c " + sources
            return {"process": self.process("compiler", command, user),
                    "parent": self.parent("shell", "shell.exe /c build.cmd")}, 0
        key = self.rng.choice(["notes", "ledger", "browser", "mail", "shell"])
        if key == "shell":
            document = home + "\\" + self.rng.choice(USERS[host_user][4])
            command = 'shell.exe /c type "%s"' % document
        else:
            command = quoted(PROGRAMS[key][0])
            if key == "browser":
                command += " --profile-directory=Default --restore-last-session"
        return {"process": self.process(key, command, user), "parent": self.parent("desktop")}, 0

    def file_write(self, host_user, user):
        _, _, _, home, documents = USERS[host_user]
        proc = self.actor(user)
        if proc["name"] == "updater.exe":
            path = UPDATER_DIR + "staging\\qm_patch_%d.pkg" % self.rng.randint(100, 999)
        else:
            path = home + "\\" + self.rng.choice(documents)
        size = self.rng.choice([512, 4096, 18233, 250114, 1048576, 7340032]) + self.rng.randint(0, 999)
        file = {"path": path, "size": size, "extension": path.rsplit(".", 1)[-1].lower(),
                "hashes": file_hashes(path + str(size)), "createdNew": self.rng.random() < 0.4}
        return {"process": proc, "file": file}, 0

    def network_connect(self, host_user, user):
        proc = self.actor(user)
        if proc["name"] == "updater.exe":
            domain, addresses = DOMAINS[0]
        else:
            domain, addresses = self.rng.choice(DOMAINS)
        port = 8443 if "badcdn" in domain else self.rng.choice([443, 443, 80, 445, 3389])
        network = {
            "direction": "outbound",
            "protocol": "TCP",
            "localAddress": "10.20.%d.%d" % (self.rng.randint(1, 9), self.rng.randint(2, 250)),
            "localPort": self.rng.randint(49152, 65535),
            "remoteAddress": self.rng.choice(addresses),
            "remotePort": port,
            "remoteHostName": domain,
            "bytesSent": self.rng.randint(0, 90000),
            "bytesReceived": self.rng.randint(0, 900000),
        }
        return {"process": proc, "network": network}, 1 if "badcdn" in domain else 0

    def registry_set(self, host_user, user):
        proc = self.actor(user)
        roll = 0.0 if proc["name"] == "updater.exe" else self.rng.random()
        if roll < 0.35:
            key = "HKLM\\SOFTWARE\\Quillmere\\Updater"
            value = {"name": "LastCheck", "type": "REG_DWORD", "data": str(self.now // 1000)}
        elif roll < 0.65:
            key = "HKCU\\Software\\Orvane\\Shell\\Run"
            value = {"name": "hgsync", "type": "REG_SZ",
                     "data": quoted(PROGRAMS["hgsync"][0]) + " --background"}
        else:
            key = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\svcgroup\\Parameters"
            value = {"name": "Blob", "type": "REG_BINARY", "data": self.blob(100, 3000)}
        return {"process": proc, "registry": {"key": key, "value": value,
                                              "operation": "SetValue"}}, 0

    def dns_query(self, host_user, user):
        proc = self.actor(user)
        domain, addresses = DOMAINS[0] if proc["name"] == "updater.exe" else self.rng.choice(DOMAINS)
        answers = [{"type": "A", "data": address, "ttl": self.rng.choice([60, 300, 3600])}
                   for address in addresses]
        dns = {"queryName": domain, "queryType": "A", "responseCode": "NOERROR", "answers": answers}
        if domain.startswith("xn--"):
            dns["unicodeName"] = "bücher.example"
        return {"process": proc, "dns": dns}, 1 if "badcdn" in domain else 0

    def module_load(self, host_user, user):
        proc = self.actor(user)
        # The updater loads only its own and the system's libraries.
        choices = MODULES[:4] if proc["name"] == "updater.exe" else MODULES
        path, signer = self.rng.choice(choices)
        module = {"path": path, "name": base_name(path), "hashes": file_hashes(path),
                  "signature": signature(signer), "baseAddress": "0x%x" % (self.rng.getrandbits(28) << 16)}
        return {"process": proc, "module": module}, 1 if signer is None else 0

    def heartbeat(self, host_user, user):
        return {"agentVersion": AGENT_VERSION, "sensorState": "running", "uptimeSeconds": self.rng.randint(60, 900000),
                "queueDepth": self.rng.randint(0, 40)}, 0

    # ---- one event ---------------------------------------------------------

    def event(self):
        event_type = self.rng.choices(list(TYPE_WEIGHTS), weights=list(TYPE_WEIGHTS.values()))[0]
        host, host_user = self.rng.choice(HOSTS)
        self.now += self.rng.randint(5, 4000)
        user = self.user(host_user)
        builder = {
            "ProcessCreate": self.process_create,
            "FileWrite": self.file_write,
            "NetworkConnect": self.network_connect,
            "RegistrySet": self.registry_set,
            "DnsQuery": self.dns_query,
            "ModuleLoad": self.module_load,
            "Heartbeat": self.heartbeat,
        }[event_type]
        members, minimum_ioas = builder(host_user, user)
        event = {
            "eventType": event_type,
            "throttlingId": THROTTLING_IDS[event_type],
            "timestamp": self.now,
            "agentId": self.agents[host],
            "hostName": host,
        }
        event.update(members)
        ioas = [] if event_type == "Heartbeat" else self.ioas(minimum_ioas)
        return {"eventType": event_type, "throttlingId": THROTTLING_IDS[event_type],
                "ioas": ioas, "event": event}


MALFORMED = [
    "this line is not JSON",
    '[{"eventType": "FileWrite", "throttlingId": 1002}]',
    '{"throttlingId": 1002, "ioas": [], "event": {"throttlingId": 1002, "hostName": "WS-FIN-0231"}}',
    '{"eventType": "FileWrite", "throttlingId": 1002, "ioas": [',
    '"just a string"',
]


def main():
    parser = argparse.ArgumentParser(description="Write example EDR telemetry as NDJSON to stdout.")
    parser.add_argument("--count", type=int, default=400, help="number of events (default 400)")
    parser.add_argument("--seed", type=int, default=4, help="random seed (default 4)")
    parser.add_argument("--with-malformed", action="store_true",
                        help="also write a few malformed lines, spread through the output")
    args = parser.parse_args()

    generator = Generator(args.seed)
    lines = []
    emoji_escaped = False
    for _ in range(args.count):
        record = generator.event()
        text = json.dumps(record, ensure_ascii=False, separators=(",", ":"))
        # A few lines escape every non-ASCII character (\u00e9, and surrogate
        # pairs for an emoji: always the first line with one); the others
        # carry it as UTF-8.
        has_emoji = any(ord(c) > 0xFFFF for c in text)
        if generator.rng.random() < 0.04 or (has_emoji and not emoji_escaped):
            emoji_escaped = emoji_escaped or has_emoji
            text = json.dumps(record, ensure_ascii=True, separators=(",", ":"))
        lines.append(text)
    if args.with_malformed:
        step = max(1, len(lines) // (len(MALFORMED) + 1))
        for i, bad in enumerate(MALFORMED):
            lines.insert(min(len(lines), (i + 1) * step + i), bad)

    out = sys.stdout.buffer
    for line in lines:
        out.write(line.encode("utf-8") + b"\n")


if __name__ == "__main__":
    main()
