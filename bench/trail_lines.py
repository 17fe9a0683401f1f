#!/usr/bin/env python3
# A trail of LINES chained lines as the reference service writes them
# (members in order, a ChangeEvent for most, non-ASCII users and messages
# among them, 550-800 bytes a line), made by the benchmarks far faster than
# the service could: the same LINES give the same trail on every run.
#
#   trail_lines.py LINES FILE
import hashlib, json, random, sys
from datetime import datetime, timedelta, timezone

lines, path = int(sys.argv[1]), sys.argv[2]
rnd = random.Random(45)
users = ["operator", "engineer", "j.schmidt", "m.meier", "müller", "p.schäfer", "f.schröder",
         "ana.sánchez", "søren.nielsen", "łukasz.nowak", "陈伟", "lab.tech1", "qa.reviewer"]
kinds = ["FIC", "TIC", "LIC", "PIC", "AIC", "XV", "HS", "FQI"]
texts = ["AUTO", "MAN", "CAS", "OPEN", "CLOSE"]
raised = ["set point raised", "Sollwert erhöht (Durchfluß)", "limit widened per MOC-{}",
          "raised for batch {}", "valve operated by hand \"local\"", "Grenzwert überschritten — 測定"]
start = datetime(2026, 1, 1, tzinfo=timezone.utc)
ole_epoch = datetime(1899, 12, 30, tzinfo=timezone.utc)

def utc(t):
    return t.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ" % (t.microsecond // 1000)

def value(kind, v):
    return {"type": kind, "value": v}

prev = "0" * 64
with open(path, "w", encoding="utf-8", newline="\n") as out:
    for n in range(lines):
        when = (start + timedelta(seconds=n * 0.75 + rnd.random() * 0.5)).replace(
            microsecond=rnd.randrange(1000) * 1000)
        user = users[min(len(users) - 1, int(len(users) * rnd.random() ** 1.5))]
        r = rnd.random()
        props = {"AppKey": "qz45event.exe", "Area": "", "AuditTrail": True, "Path": "VM/QZ.45/VM",
                 "RefId": "", "Severity": 0, "Unit": "",
                 "EventTime": {"date": round((when - ole_epoch).total_seconds() / 86400, 9),
                               "utc": utc(when)}}
        descriptor = kinds[n % 8] + str(1000 + int(2000 * rnd.random() ** 2))
        if r < 0.80:
            event, category = "ChangeEvent", 301
            if rnd.random() < 0.7:
                old = round(rnd.random() * 200, 2)
                props["OldValue"] = value("VT_R8", old)
                props["NewValue"] = value("VT_R8", round(old + rnd.random() * 20 - 10, 2))
                props["Property"] = rnd.choice(["SP", "OUT", "HIALM", "LOALM"])
            else:
                props["OldValue"] = value("VT_BSTR", rnd.choice(texts))
                props["NewValue"] = value("VT_BSTR", rnd.choice(texts))
                props["Property"] = "MODE"
            props["Message"] = rnd.choice(raised).format(rnd.randrange(100, 9999))
        elif r < 0.88:
            event, category = "HistoryChangeEvent", 401
            props["OldValue"] = value("VT_R8", round(rnd.random() * 100, 3))
            props["NewValue"] = value("VT_R8", round(rnd.random() * 100, 3))
            props["Property"] = "PV"
            props["Message"] = "archive corrected after calibration"
        elif r < 0.95:
            event, category = "GeneralEvent", 203
            props["Property"] = "SP"
            props["Message"] = "write refused: no privilege"
        else:
            event, category = "SystemEvent", 209
            descriptor = "TASK%02d" % (n % 40)
            props["Property"] = "State"
            props["Message"] = rnd.choice(["task started", "task stopped", "snapshot saved"])
        props["Category"] = category
        props["Descriptor"] = descriptor
        props["DescriptorType"] = "RECORD"
        submitted = when + timedelta(milliseconds=50 + rnd.randrange(1450))
        content = json.dumps({
            "context": {"AppName": "Oskel Zentrova.45",
                        "ApplicationId": "{5B2E7C1A-93D4-4F6E-8A71-2C9D0E4B6F38}",
                        "Domain": "LAB" if user in ("lab.tech1", "qa.reviewer") else "PLANT",
                        "User": user},
            "event": event, "properties": props, "submitted": utc(submitted)},
            ensure_ascii=False, separators=(",", ":"), sort_keys=True)
        digest = hashlib.sha256((prev + content).encode("utf-8")).hexdigest()
        out.write('%s,"prev":"%s","hash":"%s"}\n' % (content[:-1], prev, digest))
        prev = digest
