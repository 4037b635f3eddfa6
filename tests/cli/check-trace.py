#!/usr/bin/env python3
"""Every JSON event and log record of kestrel-flash against the published schema, and the trace a user relies on:
boxes that do not come, approved firmware only, a log that shows an edit, a yield report's numbers.
Usage: check-trace.py KESTREL_FLASH KESTREL_BOX SAMPLES_DIR SCHEMA"""
import csv, hashlib, json, os, re, subprocess, sys, tempfile

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is missing (scripts/install-deps installs it)")
    sys.exit(77)

flash, box, samples, schema_path = sys.argv[1:5]
mot = os.path.join(samples, "kestrel-demo.mot")
schema = json.load(open(schema_path))
events = jsonschema.Draft202012Validator({**schema, "$ref": "#/$defs/event"})
records = jsonschema.Draft202012Validator({**schema, "$ref": "#/$defs/record"})
work = tempfile.mkdtemp(prefix="kestrel-trace-")
log = os.path.join(work, "line.log")
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what)


def run(*args, timeout=20):
    return subprocess.run([flash, *args], capture_output=True, text=True, timeout=timeout)


def as_object(text):
    """A record as the schema reads it: 'key: value' lines as strings, the head, the status lines."""
    lines = text.rstrip("\n").split("\n")
    record = {"head": lines[0], "lines": [line for line in lines if line.startswith("line +")]}
    record.update(line.partition(": ")[::2] for line in lines[1:] if not line.startswith("line +"))
    return record


def json_events(out):
    objects = [json.loads(line) for line in out.splitlines()]
    for event in objects:
        check(events.is_valid(event), "event against the schema: %s" % event)
    return objects


# A gang in a --wait: the box that does not come has its result and record, the one that does is flashed.
box1, image = os.path.join(work, "box1"), os.path.join(work, "image")
served = subprocess.Popen([box, "--link", box1], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
served.stdout.readline()
gang = run("--json", "--log", log, "--lot", "A", "--operator", "Ada", "--station", "S1", "--wait", "--wait-timeout",
           "1", "-p", "./nobox", "-p", box1, mot)
results = {e.get("port"): e for e in json_events(gang.stdout) if e["event"] == "result"}
check(gang.returncode == 3 and results["./nobox"]["outcome"] == "not-attached" and results["./nobox"]["exit"] == 3,
      "nobox: %s %s" % (gang.returncode, results.get("./nobox")))
# Each result carries the digest of the image, as sha256sum finds it.
sha256 = lambda path: subprocess.run(["sha256sum", path], capture_output=True, text=True).stdout.split()[0]
run("--dump-image", image, mot)
check(results[box1]["outcome"] == "success" and results[box1]["sha256"] == sha256(image), "box1: " + gang.stderr)
# The flashed box never removed: the wait for its removal runs out saying it is there, not that it is missing.
again = run("-q", "--wait", "--wait-timeout", "0.5", "--repeat", "2", "-p", box1, mot)
check(again.returncode == 3 and "box1: still attached" in again.stderr, "not removed: " + again.stderr)
served.terminate()
served.wait()

# Approved firmware only: a file not in the manifest touches no box; a listed one flashes and is named so.
digest = sha256(mot)
listed, other = os.path.join(work, "listed.sha256"), os.path.join(work, "other.sha256")
open(listed, "w").write(digest + "  kestrel-demo.mot\n")
open(other, "w").write("0" * 64 + "  other.mot\n")
refused = run("--emulate", "--json", "--log", log, "--approved", other, mot)
check(refused.returncode == 11 and refused.stdout == "" and digest in refused.stderr and other in refused.stderr,
      "refused: %d %r %r" % (refused.returncode, refused.stdout, refused.stderr))
approved = run("--emulate=corrupt-read-back", "--json", "--log", log, "--lot", "A", "--approved", listed, mot)
started = [e for e in json_events(approved.stdout) if e["event"] == "started"]
check(approved.returncode == 8 and len(started) == 1 and started[0]["approved_sha256"] == digest,
      "approved: %d %s" % (approved.returncode, started))

kept = [as_object(text) for text in open(log).read().split("\n\n") if text]
check([r["attempt"] for r in kept if r["port"] == "./nobox"] == ["0"], "no attempt for a box that never came")
for record in kept:
    check(records.is_valid(record), "record against the schema: %s" % record)

# The chain: intact, then a CR put into the third record's port, which the message quotes escaped.
intact = run("--verify-log", log)
check(intact.returncode == 0 and intact.stdout == "intact: %d records\n" % len(kept), "intact: " + intact.stdout)
text = open(log).read()
third = text.index("\n\n", text.index("\n\n") + 2) + 2
edited = os.path.join(work, "edited.log")
port = text.index("\nport: ", third) + 7
open(edited, "w", newline="").write(text[:port] + "\r" + text[port:])
broken = run("--verify-log", edited)
check(broken.returncode == 1 and broken.stdout.startswith("broken: record 3 of") and ", port \\r" in broken.stdout
      and "\r" not in broken.stdout, "edited: %r" % broken.stdout)

# A report of a log made here, chained as the tool chains it: an edit anywhere makes it say so and fail;
# the page needs nothing else. Its figures and escaping have their tables beside the report's code.
made, chained = os.path.join(work, "made.log"), "0" * 64
with open(made, "w") as out:
    for i, (outcome, exit_status) in enumerate([("success", 0)] * 3 + [("verify-failed", 8)] * 2):
        text = "\n".join(["=== 2026-01-05T10:00:0%d.000Z Kestrel Loader 1" % i, "schema: 2", "record: result",
                          "lot: L9", "attempt: 1", "port: COM40",
                          "result: %s, exit %d, 5.000 s" % (outcome, exit_status), "prev: " + chained, ""])
        chained = hashlib.sha256(text.encode()).hexdigest()
        out.write(text + "sha256: " + chained + "\n\n")
page, table = os.path.join(work, "R.html"), os.path.join(work, "R.csv")
report = run("--report", made, "--html", page, "--csv", table)
rows = list(csv.DictReader(open(table, newline="")))
check(report.returncode == 0 and "chain intact: 5 records\n" in report.stdout and [r["chain"] for r in rows] == ["intact"],
      report.stdout)
open(edited, "w").write(open(made).read().replace("exit 8, 5.000", "exit 0, 5.000"))
tampered = run("--report", edited)
check(tampered.returncode == 1 and "chain broken at record 4 of 5" in tampered.stdout, "tampered: " + tampered.stdout)
html = open(page).read()
check("<svg" in html and "<script" not in html and not re.search(r"(src|href)=", html), "the page is self-contained")
sys.exit(1 if failures else 0)
