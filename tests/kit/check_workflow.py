#!/usr/bin/env python3
"""Checks that what the Windows workflow names is what this tree and this build have:
every script and preset its steps name exists, and the test kit it uploads, downloads,
extracts and runs is named as the build names it, with the programs it runs inside.
   check_workflow.py WORKFLOW SOURCE_DIR PRESET KIT_ZIP"""
import fnmatch, json, os, re, sys, zipfile

import yaml

workflow, source, preset, kit = sys.argv[1:5]
jobs = yaml.safe_load(open(workflow, encoding="utf-8"))["jobs"]
steps = [step for job in jobs.values() for step in job["steps"]]
runs = "\n".join(step.get("run", "") for step in steps)
with open(os.path.join(source, "CMakePresets.json"), encoding="utf-8") as presets_file:
    presets = {p["name"] for p in json.load(presets_file)["configurePresets"]}
problems = [f"no such script: {s}" for s in re.findall(r"scripts/[\w./-]+", runs)
            if not os.path.isfile(os.path.join(source, s))]
problems += [f"no such preset: {p}" for p in re.findall(r"--preset\s+([\w-]+)", runs) if p not in presets]
# The kit as this build makes it: its zip, beside the build, and the folder in it.
uploads = [s["with"]["path"] for s in steps if s.get("with", {}).get("name") == f"kit-{preset}"]
if not any(fnmatch.fnmatch(os.path.relpath(kit, source), p) for p in uploads):
    problems.append(f"no kit-{preset} upload takes {os.path.relpath(kit, source)}")
if preset not in jobs["kit"]["strategy"]["matrix"]["arch"]:
    problems.append(f"the kit job does not run the {preset} kit")
entries = zipfile.ZipFile(kit).namelist()
folder = entries[0].split("/")[0]
for pattern in re.findall(r"svclaunch-[\w.-]*\*[\w*.-]*", runs):
    if not fnmatch.fnmatch(os.path.basename(kit) if pattern.endswith(".zip") else folder, pattern):
        problems.append(f"{pattern} does not match the kit {os.path.basename(kit)}")
for program in set(re.findall(r"[\w-]+\.(?:cmd|exe)", runs)):
    if f"{folder}/{program}" not in entries:
        problems.append(f"the workflow runs {program}, which is not in the kit")
print("\n".join(problems) or f"{workflow}: every script, preset and kit name it uses is there")
sys.exit(1 if problems else 0)
