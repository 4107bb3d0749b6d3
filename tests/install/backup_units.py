#!/usr/bin/env python3
"""The unattended backup units: systemd-analyze verify passes on every one, the
one-device service's command lines, expanded as systemd expands them
(specifiers, the unit's environment and the instance's file, the password as a
credential), back up the simulated device and prune the folder when run by
hand, and the fleet's units run vtbox fleet on the instance's inventory without
a shell, with the example inventory keeping to the inventory's keys.

usage: backup_units.py STAGE BINDIR UNITDIR DOCDIR CONFIGURED_BINDIR
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import tomllib

def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def sections(text):
    """{section: [(key, value), ...]} of a unit file, continuation lines joined."""
    out, current = {}, None
    text = re.sub(r"\\\n", " ", text)
    for line in text.splitlines():
        line = line.strip()
        if not line or line[0] in "#;":
            continue
        if line.startswith("["):
            current = out.setdefault(line.strip("[]"), [])
        else:
            key, _, value = line.partition("=")
            current.append((key.strip(), value.strip()))
    return out


def values(section, key):
    return [v for k, v in section if k == key]


def specifiers(text, unit_values):
    return re.sub(r"%(.)", lambda m: unit_values[m.group(1)], text)


def environment_file(path):
    env = {}
    for line in open(path, encoding="utf-8"):
        line = line.strip()
        if not line or line[0] in "#;":
            continue
        key, _, value = line.partition("=")
        value = value.strip()
        if len(value) >= 2 and value[0] == value[-1] and value[0] in "\"'":
            value = value[1:-1]
        env[key.strip()] = value
    return env


def expand_command(line, env):
    """A command line as systemd runs it: "${VAR}" stays one word, a word that
    is exactly "$VAR" splits at blanks, "$$" is a dollar sign."""
    words = []
    for word in shlex.split(line):
        m = re.fullmatch(r"\$([A-Za-z_][A-Za-z0-9_]*)", word)
        if m:
            words.extend(env.get(m.group(1), "").split())
            continue
        word = re.sub(r"\$\{([A-Za-z_][A-Za-z0-9_]*)\}", lambda m: env.get(m.group(1), ""), word)
        words.append(word.replace("$$", "$"))
    return words


def start_device(bin_dir, work):
    out = open(os.path.join(work, "sim.out"), "w+")
    sim = subprocess.Popen([os.path.join(bin_dir, "vtbox-devicesim"), "--store", os.path.join(work, "store"),
                            "--seed", "--boxes", "2", "--folders", "1", "--docs", "2", "--pages", "1",
                            "--http-port", "0", "--ftp-port", "0"], stdout=out, stderr=subprocess.STDOUT)
    for _ in range(100):
        out.seek(0)
        text = out.read()
        ports = dict(re.findall(r"^(http|ftp) port (\d+)$", text, re.M))
        if len(ports) == 2:
            return sim, ports["http"], ports["ftp"]
        time.sleep(0.1)
    sim.kill()
    fail("the simulated device did not start: " + text)


# The keys an inventory may hold: those of a device, which [defaults] and a
# group may give too (but name, host and group), and those of the run.
DEVICE_KEYS = {"name", "host", "group", "enabled", "port", "ftp-port", "timeout", "password", "password-file",
               "password-command", "boxes", "backup-root", "file-name", "keep-last", "keep-daily", "keep-weekly",
               "keep-monthly", "stale-after", "device-time-limit", "retries", "retry-delay", "hook-time-limit",
               "verify", "on-success", "on-failure", "on-finish"}
FLEET_KEYS = {"jobs", "metrics-file", "on-run-end", "hook-time-limit"}


def check_fleet_units(service_sections, timer_sections, configured_vtbox, example, staged_vtbox, work):
    service, timer = service_sections["Service"], timer_sections["Timer"]

    def one(key):
        v = values(service, key)
        if len(v) != 1:
            fail("the fleet service has %d %s= lines" % (len(v), key))
        return v[0]
    # The instance's inventory, handed to vtbox itself: no shell between.
    argv = shlex.split(one("ExecStart"))
    if argv != [configured_vtbox, "fleet", "backup", "%E/vtbox/fleet/%i.toml"]:
        fail("the fleet service runs %s" % argv)
    if values(service, "ExecStartPre") or values(service, "ExecStartPost"):
        fail("the fleet service runs more than vtbox fleet")
    if one("Type") != "oneshot" or "vtbox" not in one("StateDirectory").split():
        fail("the fleet service is no oneshot keeping its state in StateDirectory=vtbox")
    if one("NoNewPrivileges") != "yes" or one("ProtectSystem") != "strict" or one("User") in ("", "root", "0"):
        fail("the fleet service is not hardened")
    # A stop goes to the fleet run alone, which cancels its devices' jobs;
    # a signal to every process would reach each job twice.
    if one("KillSignal") != "SIGINT" or one("KillMode") != "mixed":
        fail("a stop of the fleet service is not the fleet run's Ctrl-C")
    if values(timer, "Persistent") != ["true"] or len(values(timer, "OnCalendar")) != 1 or \
            not values(timer, "RandomizedDelaySec"):
        fail("the fleet timer is not a nightly one with a random delay that catches up after a boot")

    inventory = tomllib.load(open(example, "rb"))
    for table, keys in [("defaults", inventory.get("defaults", {}))] + \
            [("group." + g, t) for g, t in inventory.get("group", {}).items()]:
        unknown = set(keys) - (DEVICE_KEYS - {"name", "host", "group"})
        if unknown:
            fail("the example inventory's [%s] holds %s" % (table, sorted(unknown)))
    for device in inventory.get("device", []):
        if set(device) - DEVICE_KEYS or not {"name", "host"} <= set(device):
            fail("the example inventory's device %s" % device)
        if device.get("group", "") not in inventory.get("group", {}).keys() | {""}:
            fail("the example inventory's device %s names a group it lacks" % device["name"])
    if set(inventory.get("fleet", {})) - FLEET_KEYS or set(inventory) - {"fleet", "defaults", "group", "device"}:
        fail("the example inventory holds keys of no inventory")
    # Where the command is built in, it reads the example as it is.
    help_text = subprocess.run([staged_vtbox, "--help"], capture_output=True, text=True).stdout
    if re.search(r"^  fleet ", help_text, re.M):
        r = subprocess.run([staged_vtbox, "fleet", "check", example], capture_output=True, text=True,
                           env={"PATH": "/usr/bin:/bin", "HOME": work})
        if r.returncode != 0:
            fail("vtbox fleet check of the example inventory exited %d:\n%s%s" % (r.returncode, r.stdout, r.stderr))


def main():
    stage, bindir, unitdir, docdir, configured_bindir = sys.argv[1:6]
    bin_dir = os.path.join(stage, bindir)
    service_text = open(os.path.join(stage, unitdir, "vtbox-backup@.service"), encoding="utf-8").read()
    timer_text = open(os.path.join(stage, unitdir, "vtbox-backup@.timer"), encoding="utf-8").read()
    fleet_service_text = open(os.path.join(stage, unitdir, "vtbox-fleet@.service"), encoding="utf-8").read()
    fleet_timer_text = open(os.path.join(stage, unitdir, "vtbox-fleet@.timer"), encoding="utf-8").read()
    example = os.path.join(stage, docdir, "examples", "instance.conf")
    configured_vtbox = configured_bindir + "/vtbox"
    staged_vtbox = os.path.join(bin_dir, "vtbox")

    work = tempfile.mkdtemp()
    sim = None
    try:
        # ---- systemd-analyze verify, with the programs where the unit names them
        analyze = shutil.which("systemd-analyze")
        if analyze:
            units = os.path.join(work, "units")
            os.makedirs(units)
            open(os.path.join(units, "vtbox-backup@.service"), "w").write(
                service_text.replace(configured_vtbox, staged_vtbox))
            open(os.path.join(units, "vtbox-backup@.timer"), "w").write(timer_text)
            open(os.path.join(units, "vtbox-fleet@.service"), "w").write(
                fleet_service_text.replace(configured_vtbox, staged_vtbox))
            open(os.path.join(units, "vtbox-fleet@.timer"), "w").write(fleet_timer_text)
            r = subprocess.run([analyze, "verify", "--man=no", "vtbox-backup@printroom.service",
                                "vtbox-backup@printroom.timer", "vtbox-fleet@berlin.service",
                                "vtbox-fleet@berlin.timer"], cwd=units, capture_output=True, text=True)
            if r.returncode != 0 or r.stdout.strip() or r.stderr.strip():
                fail("systemd-analyze verify:\n" + r.stdout + r.stderr)
        else:
            print("systemd-analyze is not installed: the units are not verified (scripts/install-deps installs it)")

        check_fleet_units(sections(fleet_service_text), sections(fleet_timer_text), configured_vtbox,
                          os.path.join(stage, docdir, "examples", "fleet-example.toml"), staged_vtbox, work)

        service = sections(service_text)["Service"]
        timer = sections(timer_text)["Timer"]

        # ---- what the units promise
        def one(key):
            v = values(service, key)
            if len(v) != 1:
                fail("the service has %d %s= lines" % (len(v), key))
            return v[0]
        if one("NoNewPrivileges") != "yes" or one("ProtectSystem") != "strict":
            fail("the service is not hardened")
        if one("User") in ("", "root", "0"):
            fail("the service runs as root")
        if values(timer, "Persistent") != ["true"]:
            fail("a missed run does not happen at the next boot")
        calendar = values(timer, "OnCalendar")
        if len(calendar) != 1 or ("OnCalendar=" + calendar[0]) not in open(example).read():
            fail("the example settings do not document the timer's schedule " + str(calendar))

        # ---- the service run by hand, as systemd would run it
        sim, http_port, ftp_port = start_device(bin_dir, work)
        root = os.path.join(work, "root")
        unit_values = {"i": "printroom", "E": root + "/etc", "S": root + "/var/lib", "d": root + "/credentials",
                "%": "%"}
        for d in (unit_values["E"] + "/vtbox", unit_values["S"], unit_values["d"]):
            os.makedirs(d)
        conf = open(example).read() + "\nVTBOX_HOST=127.0.0.1\nVTBOX_PORT=%s\nVTBOX_FTP_PORT=%s\n" \
            "VTBOX_PRUNE=--keep-last 1\n" % (http_port, ftp_port)
        open(unit_values["E"] + "/vtbox/printroom.conf", "w").write(conf)
        open(unit_values["E"] + "/vtbox/printroom.password", "w").write("admin\n")
        os.chmod(unit_values["E"] + "/vtbox/printroom.password", 0o600)

        # What systemd gives a service of a system user: a path and the
        # user's home, where what the job keeps for itself goes, beside the
        # backup folder and not in it.
        home = unit_values["S"] + "/vtbox"
        env = {"PATH": "/usr/bin:/bin", "HOME": home}
        for line in values(service, "Environment"):
            for assignment in shlex.split(specifiers(line, unit_values)):
                key, _, value = assignment.partition("=")
                env[key] = value
        for path in values(service, "EnvironmentFile"):
            env.update(environment_file(specifiers(path, unit_values)))
        for credential in values(service, "LoadCredential"):
            name, _, path = specifiers(credential, unit_values).partition(":")
            shutil.copy(path, os.path.join(unit_values["d"], name))
            os.chmod(os.path.join(unit_values["d"], name), 0o400)  # as systemd hands it over
        states = []
        for line in values(service, "StateDirectory"):
            for state in specifiers(line, unit_values).split():
                states.append(os.path.join(unit_values["S"], state))
                os.makedirs(states[-1], exist_ok=True)
        # systemd names every state folder in one variable, which vtbox
        # would take for its own state folder.
        env["STATE_DIRECTORY"] = ":".join(states)
        for line in values(service, "UnsetEnvironment"):
            for name in line.split():
                env.pop(name, None)
        cwd = specifiers(one("WorkingDirectory"), unit_values)
        writable = specifiers(one("ReadWritePaths"), unit_values)

        def run(key):
            for line in values(service, key):
                argv = [w.replace(configured_vtbox, staged_vtbox)
                        for w in expand_command(specifiers(line, unit_values), env)]
                r = subprocess.run(argv, env=env, cwd=cwd, capture_output=True, text=True)
                if r.returncode != 0:
                    fail("%s= %s exited with %d:\n%s%s" % (key, argv, r.returncode, r.stdout, r.stderr))

        made = []
        for _ in range(2):
            run("ExecStart")
            files = sorted(os.listdir(writable))
            if not files or not re.fullmatch(r"printroom-\d{8}-\d{6}\.zip", files[-1]):
                fail("the service wrote %s into %s" % (files, writable))
            made.append(files[-1])
            run("ExecStartPost")
            time.sleep(1.1)  # the next run's file gets another name
        left = sorted(os.listdir(writable))
        if made[0] == made[1] or left != [made[1]]:
            fail("after two runs with --keep-last 1 the folder holds %s (made %s)" % (left, made))
        print("ok")
    finally:
        if sim:
            sim.terminate()
            sim.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
