#!/usr/bin/env python3
"""The unattended report's JSON form, read by a real JSON parser on the host.

Prepares the demo installation under a scratch folder whose name is not
plain ASCII, runs the utility with /report ... /format json on it (to a file,
and to standard output) with a sample project, and checks what the parser
reads against the schema and against itself. Arguments: the folder of the
built programs, the Wine loader that runs them, and the utility's file name
(ForgeSupport.exe or ForgeSupport64.exe).
"""
import json
import os
import re
import subprocess
import sys
import tempfile

BIN, WINE, UTILITY = sys.argv[1], sys.argv[2], sys.argv[3]
# Arguments and file names cross into Wine as UTF-8.
ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
ROW_KEYS = ["fileName", "progId", "registered", "onSystem", "version", "location"]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def run(program, *args):
    return subprocess.run([WINE, os.path.join(BIN, program), *args], env=ENV,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=240)


def check_report(report, exit_code, system_folder):
    check(report["schema"] == 1, "schema is 1")
    check(report["exitCode"] == exit_code, "exitCode %r is the process's %r" % (report["exitCode"], exit_code))
    summary = report["summary"].split("\r\n")
    check(len(summary) == 7 and summary[0] == "-" * 34 and summary[5] == "-" * 34 and summary[6] == "",
          "summary is the six-line block")
    env = report["environment"]
    check(env["utilityBits"] in (32, 64) and env["osBits"] in (32, 64), "bitness is 32 or 64")
    check(isinstance(env["elevated"], bool) and isinstance(env["ansiCodePage"], int), "environment types")
    check(all(isinstance(env[k], str) for k in ("osProduct", "osDisplayVersion", "osBuild")), "the system's own words")
    check(env["osBuild"].split(".")[0].isdigit(), "a build number")
    check(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d", env["localTime"]), "localTime is ISO 8601")
    check(re.fullmatch(r"\d+\.\d+\.\d+\.\d+", env["utilityVersion"]), "utilityVersion")
    check(env["systemFolder"] == system_folder, "systemFolder %r" % env["systemFolder"])

    rows = report["components"]
    check(len(rows) == 95, "95 components")
    check(all(list(row) == ROW_KEYS and all(isinstance(row[k], str) for k in ROW_KEYS) for row in rows),
          "every component has the six string fields")
    names = [row["fileName"] for row in rows]
    check(names == sorted(names, key=str.lower), "components in display order")
    check(any(row["location"].startswith(system_folder + "\\") for row in rows), "locations under the System folder")
    faulty = [row for row in rows
              if row["onSystem"] != "Yes" or (row["progId"] and row["registered"] != "Yes")]
    problems = report["problems"]
    check([p["fileName"] for p in problems] == [row["fileName"] for row in faulty], "problems are the faulty rows")
    for problem, row in zip(problems, faulty):
        check(problem["present"] == (row["onSystem"] == "Yes"), "present of " + row["fileName"])
        check(problem["registered"] == (None if not row["progId"] else row["registered"] == "Yes"),
              "registered of " + row["fileName"])
        check(problem["verdict"] != "", "verdict of " + row["fileName"])
    check(0 < len(problems) < 95, "the demo has some faulty rows and some sound ones")

    project = report["project"]
    check(project is not None and project["caption"] == "Forge Project (Standard)", "project caption")
    check(project is not None and project["features"] == 9 and project["errors"] == [], "project features and errors")


def main():
    with tempfile.TemporaryDirectory(prefix="report-json-") as scratch:
        root = os.path.join(scratch, "Démo")
        system_folder = windows_path(os.path.join(root, "Kelvara", "Forge 8.0", "System"))
        setup = run("ForgeDemoSetup.exe", "/install", windows_path(root))
        if setup.returncode != 0:
            print(setup.stderr.decode(errors="replace"))
            return 1
        try:
            project = windows_path(os.path.join(root, "Kelvara", "Forge 8.0", "Projects", "standard.kvp"))
            target = os.path.join(scratch, "report.json")
            to_file = run(UTILITY, "/report", windows_path(target), "/format", "json", "/project", project)
            with open(target, "rb") as file:
                data = file.read()
            check_report(json.loads(data.decode("utf-8")), to_file.returncode, system_folder)
            check(to_file.returncode == 1, "exit code 1 on the demo installation")

            to_stdout = run(UTILITY, "-report", "-", "-format", "JSON", "-project", project)
            check(to_stdout.stderr == b"", "nothing on standard error")
            check_report(json.loads(to_stdout.stdout.decode("utf-8")), to_stdout.returncode, system_folder)
        finally:
            removed = run("ForgeDemoSetup.exe", "/remove", windows_path(root))
            check(removed.returncode == 0, "the demo installation is removed: " + removed.stderr.decode(errors="replace"))
    for failure in failures:
        print("FAILED:", failure)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
