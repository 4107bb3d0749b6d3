"""Runs a command and samples the peak memory of the processes under it.

usage: peak_rss.py OUT -- COMMAND [ARG...]

COMMAND is expected to be `/usr/bin/time ... vtbox fleet ...` (or vtbox
itself): the first vtbox process under it with "fleet" among its arguments is
the fleet process, every vtbox process under that one with other arguments a
device's job. Every 50 ms the process table is read
and each of them's VmHWM (the kernel's high-water mark of its resident set)
noted; the last value read before a process ends is its peak, to within what
it grew in its last 50 ms. OUT gets one "name value" a line:

  fleet_peak_kb     the fleet process's own peak (its children not included,
                    unlike the maximum resident set size that time(1) reports,
                    which the kernel takes over the whole tree of processes)
  device_peak_kb    the largest peak of one device's vtbox process
  device_median_kb  the median of the devices' peaks
  device_processes  how many device processes were seen

Exits with COMMAND's exit status.
"""
import os
import statistics
import subprocess
import sys
import time


def table():
    """pid -> (ppid, comm) of every process."""
    out = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                stat = f.read()
        except OSError:
            continue
        # comm may hold blanks and parentheses: it ends at the last ')'.
        close = stat.rfind(")")
        comm = stat[stat.find("(") + 1:close]
        fields = stat[close + 2:].split()
        out[int(name)] = (int(fields[1]), comm)
    return out


def hwm_kb(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def is_fleet(pid):
    """True while the process runs the fleet's command line: the fleet itself,
    or a child between its fork and its exec, whose memory is still the
    fleet's and must not count as a device's."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return b"fleet" in f.read().split(b"\0")
    except OSError:
        return True


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        sys.exit(__doc__)
    proc = subprocess.Popen(sys.argv[3:])
    fleet = None
    fleet_peak = 0
    devices = {}
    while proc.poll() is None:
        procs = table()
        children = {}
        for pid, (ppid, _) in procs.items():
            children.setdefault(ppid, []).append(pid)
        if fleet is None:
            todo = list(children.get(proc.pid, []))
            if procs.get(proc.pid, (0, ""))[1] == "vtbox":
                todo = [proc.pid]
            while todo and fleet is None:
                pid = todo.pop()
                if procs[pid][1] == "vtbox" and is_fleet(pid):
                    fleet = pid
                todo.extend(children.get(pid, []))
        if fleet is not None:
            fleet_peak = max(fleet_peak, hwm_kb(fleet) or 0)
            todo = list(children.get(fleet, []))
            while todo:
                pid = todo.pop()
                if procs[pid][1] == "vtbox" and not is_fleet(pid):
                    kb = hwm_kb(pid)
                    if kb:
                        devices[pid] = max(devices.get(pid, 0), kb)
                todo.extend(children.get(pid, []))
        time.sleep(0.05)
    peaks = sorted(devices.values())
    with open(sys.argv[1], "w") as out:
        out.write("fleet_peak_kb %d\n" % fleet_peak)
        out.write("device_peak_kb %d\n" % (peaks[-1] if peaks else 0))
        out.write("device_median_kb %d\n" % (statistics.median(peaks) if peaks else 0))
        out.write("device_processes %d\n" % len(peaks))
    sys.exit(proc.returncode)


main()
