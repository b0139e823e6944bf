#!/usr/bin/python3
"""The pendant against a running LinuxCNC: the DISPLAY program of the sim
configuration (hal/sim) that scripts/linuxcnc-test.sh starts. It drives the
virtual pendant through km4r-pendant's scenarios (one per check, played when
km4r.virtual.play is set to its number), watches LinuxCNC through the
linuxcnc module and HAL, and writes results.txt in the run directory.

  pendant_check.py --write-scenarios DIR   writes the scenarios, prints their names
  pendant_check.py -ini FILE               the checks (as LinuxCNC's DISPLAY)
  pendant_check.py --demo -ini FILE        the sim configuration as shipped: its
                                           demo.scn plays once the machine is homed
"""
import os
import random
import re
import subprocess
import sys
import time

CYCLE = 0.025


def report(counter, speed, selectors, step, estop=False):
    return "report 00 %02X %02X %02X %02X 00 00 00" % (
        counter & 0xFF, speed, selectors | (0x20 if estop else 0), step)


class Scenario:
    def __init__(self, name):
        self.name, self.lines, self.marks, self.counter = name, [], {}, 0

    def add(self, line):
        self.lines.append(line)

    def mark(self, key):
        self.marks[key] = len(self.lines) + 1  # the next line

    def turn(self, reports, counts, selectors, step, estop=False):
        for _ in range(reports):
            self.counter += counts
            self.add(report(self.counter, 5, selectors, step, estop))
            self.add("cycle")

    def still(self, selectors, step, cycles):
        self.add(report(self.counter, 0, selectors, step))
        self.add("cycle %d" % cycles)


X_STEP, Y_STEP, X_RATE, FEED = (0x81, 1), (0x82, 1), (0x81, 3), (0x84, 1)


def scenarios():
    out = []

    def new(name):
        s = Scenario(name)
        s.still(0x81, 1, 4)  # selectors first, no counts: nothing moves
        out.append(s)
        return s

    s = new("step")  # 100 counts at the 0.01 step on X
    s.turn(20, 5, *X_STEP)
    s.still(*X_STEP, 20)
    s.add("show display")
    for key, action in (("stop", None), ("reverse", -4), ("unplug", "unplug")):
        s = new("rate-" + key)
        s.turn(40, 4, *X_RATE)
        s.mark(key)
        if action is None:
            s.still(*X_RATE, 20)
        elif action == "unplug":
            s.add("unplug")
            s.add("cycle 20")
            s.add("plug")
            s.add("cycle 4")
            s.still(*X_RATE, 8)
        else:
            s.turn(8, action, *X_RATE)
            s.still(*X_RATE, 20)
    s = new("select-y")  # the axis selector to Y, the wheel still
    s.still(*Y_STEP, 4)
    s = new("feed")  # feed override up: 4 reports of 5 counts
    s.turn(4, 5, *FEED)
    s.still(*FEED, 8)
    s = new("blocked")  # step jog on Y while a program runs
    s.turn(10, 2, *Y_STEP)
    s.still(*Y_STEP, 10)
    s = new("estop")
    s.turn(40, 4, *X_RATE)
    s.mark("estop")
    s.turn(20, 4, *X_RATE, estop=True)
    s.still(*X_RATE, 10)  # released
    s = new("survive")
    rng = random.Random(29)
    plugged = True
    for i in range(1000):
        if rng.randrange(3) == 0:  # the bench refuses a plug while plugged
            s.add("unplug" if plugged else "plug")
            plugged = not plugged
        else:
            s.add("report " + " ".join("%02X" % rng.randrange(256) for _ in range(8)))
        if i % 5 == 4:
            s.add("cycle")
    s.mark("calm")
    if not plugged:
        s.add("plug")
    s.add("cycle 4")
    s.still(*X_STEP, 20)
    return out


SCENARIOS = scenarios()
NUMBER = {s.name: i + 1 for i, s in enumerate(SCENARIOS)}


def write_scenarios(directory):
    for s in SCENARIOS:
        with open(os.path.join(directory, s.name + ".scn"), "w") as f:
            f.write("\n".join(s.lines) + "\n")
        print(s.name + ".scn")


class Check:
    def __init__(self, run_dir):
        import hal
        import linuxcnc
        self.hal, self.lc = hal, linuxcnc
        self.dir = run_dir
        self.comp = hal.component("km4r-check")
        self.comp.ready()
        self.s, self.c = linuxcnc.stat(), linuxcnc.command()
        self.results, self.figures = [], []

    def result(self, ok, what):
        self.results.append(("PASS " if ok else "FAIL ") + what)
        print(self.results[-1], flush=True)

    def get(self, name):
        return self.hal.get_value(name)

    def wait(self, test, timeout, step=0.01):
        end = time.time() + timeout
        while time.time() < end:
            if test():
                return True
            time.sleep(step)
        return False

    def pos(self):
        self.s.poll()
        return list(self.s.actual_position[:3])

    def machine_ready(self):
        lc, c = self.lc, self.c
        c.state(lc.STATE_ESTOP_RESET)
        c.wait_complete()
        c.state(lc.STATE_ON)
        c.wait_complete()
        c.mode(lc.MODE_MANUAL)
        c.wait_complete()
        self.s.poll()
        if not all(self.s.homed[:3]):
            c.home(-1)
            c.wait_complete()
            self.wait(lambda: self.s.poll() or all(self.s.homed[:3]), 30, 0.05)
        c.teleop_enable(1)
        c.wait_complete()
        return self.wait(lambda: self.s.poll() or (
            self.s.task_state == lc.STATE_ON and self.s.motion_mode == lc.TRAJ_MODE_TELEOP), 5)

    def play(self, name, watch=None, timeout=60):
        """Plays one scenario; watch(t, line) runs at every poll meanwhile."""
        n = NUMBER[name]
        self.hal.set_p("km4r.virtual.play", str(n))
        end = time.time() + timeout
        while self.get("km4r.virtual.done") != n and time.time() < end:
            if watch is not None:
                watch(time.time(), self.get("km4r.virtual.line"))
            time.sleep(0.001)
        self.hal.set_p("km4r.virtual.play", "0")
        ok = self.get("km4r.virtual.done") == n
        if not ok:
            self.result(False, "scenario %s played to its end" % name)
        self.wait(lambda: self.get("motion.in-position"), 5)
        return ok

    def stop_latency(self, name, key, extra=None):
        """ms from the marked line to X standing still (and to jog-plus falling)."""
        mark = SCENARIOS[NUMBER[name] - 1].marks[key]
        seen = {"armed": False, "moving": False, "t0": None, "stop": None, "release": None, "extra": None}

        def watch(t, line):
            v = self.get("ddt_x.out")
            if seen["t0"] is None:
                # Until the component starts this scenario the line is the last one's.
                seen["armed"] = seen["armed"] or line < mark
                seen["moving"] = seen["moving"] or v > 1.0
                if seen["armed"] and line >= mark:
                    seen["t0"] = t
                return
            if seen["release"] is None and not self.get("km4r.axis.x.jog-plus"):
                seen["release"] = t
            if seen["stop"] is None and v <= 1e-9:
                seen["stop"] = t
            if extra is not None and seen["extra"] is None and extra():
                seen["extra"] = t

        before = self.pos()
        self.play(name, watch)
        after = self.pos()
        ms = lambda k: None if seen[k] is None or seen["t0"] is None else (seen[k] - seen["t0"]) * 1000
        stop, release = ms("stop"), ms("release")
        self.figures.append("%s: X moved %.4f mm while the wheel turned; stopped %s ms after the "
                            "wheel event (jog bit released after %s ms)" % (
                                key, after[0] - before[0], "%.0f" % stop if stop is not None else "never",
                                "%.0f" % release if release is not None else "never"))
        self.result(seen["moving"], "%s: X jogs while the wheel turns" % key)
        self.result(stop is not None and stop <= 100, "%s: X stops within 100 ms (%s ms)" % (key, stop))
        self.result(after[1:] == before[1:], "%s: Y and Z do not move" % key)
        return ms("extra")

    def documented_pins(self):
        names = set()
        with open(os.path.join(self.dir, "km4r-pendant.1")) as f:
            for line in f:
                m = re.match(r"^\.B km4r\.(\S+)", line.replace("\\-", "-").replace("\\fI", "").replace("\\fB", "").replace("\\fR", ""))
                if not m:
                    continue
                name = m.group(1)
                letters = "xyza" if name.endswith(".zero") else "xyzabc"
                for l in (letters if ".L." in name else "-"):
                    names.add("km4r." + name.replace(".L.", ".%s." % l))
        return names

    def enabled(self):
        return [int(self.get("km4r.axis.%s.jog-enable" % l)) for l in "xyz"]

    def halcmd_pins(self):
        out = subprocess.run(["halcmd", "-s", "show", "pin", "km4r."], capture_output=True,
                             text=True).stdout
        return {f[4] for f in (l.split() for l in out.splitlines()) if len(f) >= 5 and f[4].startswith("km4r.")}

    def run(self):
        lc = self.lc
        self.result(self.machine_ready(), "machine on, homed, teleop")
        self.s.poll()
        self.result(abs(self.s.feedrate - 1.0) < 1e-6 and abs(self.s.spindle[0]["override"] - 1.0) < 1e-6,
                    "the component leaves LinuxCNC's overrides at 100 %% as it starts (%.4f, %.4f)" % (
                        self.s.feedrate, self.s.spindle[0]["override"]))
        documented, present = self.documented_pins(), self.halcmd_pins()
        self.result(documented == present and len(present) > 40,
                    "halcmd shows exactly the %d documented pins (missing %s, undocumented %s)" % (
                        len(documented), sorted(documented - present), sorted(present - documented)))
        self.result(self.get("km4r.connected"), "km4r.connected with the virtual pendant attached")

        before = self.pos()
        self.play("step")
        after = self.pos()
        dx = after[0] - before[0]
        self.figures.append("step: 100 counts at 0.01 -> X moved %.6f mm, Y %.6f, Z %.6f" % (
            dx, after[1] - before[1], after[2] - before[2]))
        self.result(abs(dx - 1.0) < 1e-6, "100 counts at 0.01 move X by 1.0000 (%.6f)" % dx)
        self.result(after[1:] == before[1:], "step jog on X leaves Y and Z where they were")
        shown = "%+.2f" % self.pos()[0]  # Decidigit 0 in the INI file: two decimals
        with open(os.path.join(self.dir, "display.log")) as f:
            displays = [l for l in f if l.startswith("display ")]
        self.result(bool(displays) and ('%s" reset' % shown) in displays[-1],
                    "the pendant's display shows LinuxCNC's X %s, with the INI file's Decidigit (%s)" % (
                        shown, displays[-1].strip() if displays else "no display line"))

        self.result(self.enabled() == [1, 0, 0], "jog-enable follows the axis selector: X (%s)" % self.enabled())
        self.play("select-y")
        self.result(self.enabled() == [0, 1, 0], "jog-enable follows the axis selector: Y (%s)" % self.enabled())

        self.stop_latency("rate-stop", "stop")
        self.stop_latency("rate-reverse", "reverse")
        self.stop_latency("rate-unplug", "unplug")

        self.play("feed")
        self.result(self.enabled() == [0, 0, 0], "no jog-enable while the wheel sets the feed override (%s)" % self.enabled())
        self.s.poll()
        expected = 100.0
        for _ in range(4):
            expected *= 1 + 0.005 * 5
        expected = round(expected * 10) / 1000
        self.figures.append("feed override: LinuxCNC %.4f, pendant %.4f" % (self.s.feedrate, expected))
        self.result(abs(self.s.feedrate - expected) < 1e-6,
                    "feed override follows the wheel (%.4f, expected %.4f)" % (self.s.feedrate, expected))

        program = os.path.join(self.dir, "dwell.ngc")
        with open(program, "w") as f:
            f.write("G4 P4\nM2\n")
        self.c.mode(lc.MODE_AUTO)
        self.c.wait_complete()
        self.c.program_open(program)
        self.c.auto(lc.AUTO_RUN, 0)
        running = self.wait(lambda: self.get("halui.program.is-running"), 5)
        before = self.pos()
        self.play("blocked")
        after = self.pos()
        self.result(running and after == before, "a running program blocks jogging (Y moved %.4f)" % (
            after[1] - before[1]))
        self.wait(lambda: not self.get("halui.program.is-running"), 10)
        self.machine_ready()

        estop_ms = self.stop_latency(
            "estop", "estop", extra=lambda: self.s.poll() or self.s.task_state == lc.STATE_ESTOP)
        self.figures.append("estop: LinuxCNC in E-stop %s ms after the pendant's E-stop" % (
            "%.0f" % estop_ms if estop_ms is not None else "never"))
        self.result(estop_ms is not None, "the pendant's E-stop puts LinuxCNC in E-stop")

        self.machine_ready()
        errors_before = self.get("km4r.decode-errors")
        violations = []
        cycles_before = self.get("km4r.cycles")
        mark = SCENARIOS[NUMBER["survive"] - 1].marks["calm"]
        last = {"connected": True, "since": time.time()}

        def watch(t, line):
            connected = self.get("km4r.connected")
            if connected != last["connected"]:
                last.update(connected=connected, since=t)
            jogging = any(self.get("km4r.axis.%s.jog-%s" % (l, d)) for l in "xyz" for d in ("plus", "minus"))
            if jogging and not connected and t - last["since"] > 0.06:
                violations.append("jogging %.0f ms after the link went" % ((t - last["since"]) * 1000))
            if jogging and self.get("km4r.estop"):
                violations.append("jogging with the pendant's E-stop engaged")

        self.play("survive", watch, timeout=120)
        alive = self.get("km4r.cycles") > cycles_before
        still = self.wait(lambda: abs(self.get("ddt_x.out")) + abs(self.get("ddt_y.out")) + abs(self.get("ddt_z.out")) < 1e-9, 1)
        errors = self.get("km4r.decode-errors")
        self.figures.append("survival: 1000 events, %d decode errors counted, %d violations" % (
            errors, len(violations)))
        self.result(errors_before == 0 and errors > 0,
                    "decode-errors: 0 for the pendant's own reports, %d after random ones" % errors)
        self.result(alive and not violations and still and self.get("km4r.connected"),
                    "1000 unplug/replug/garbage events: component running, reconnected, "
                    "machine still, no jog without link or under E-stop (%s)" % violations[:3])

    def demo(self):
        """demo.scn: 100 counts at 0.01 on X, a rate jog on Y, feed override +10 %."""
        self.result(self.machine_ready(), "machine on, homed, teleop")
        played = self.wait(lambda: self.get("km4r.virtual.done") == 1, 30)
        self.wait(lambda: self.get("motion.in-position"), 5)
        x, y, z = self.pos()
        self.s.poll()
        self.figures.append("demo: X %.6f, Y %.4f, Z %.4f, feed override %.4f" % (x, y, z, self.s.feedrate))
        self.result(played and abs(x - 1.0) < 1e-6 and y > 1.0 and abs(self.s.feedrate - 1.104) < 1e-6,
                    "the demo jogs X by 1.0000 and Y continuously, and sets the feed override to 110.4 %")

    def finish(self):
        failed = [r for r in self.results if r.startswith("FAIL")]
        with open(os.path.join(self.dir, "results.txt"), "w") as f:
            f.write("\n".join(self.results + ["figure: " + x for x in self.figures]) + "\n")
            f.write("ALL PASSED\n" if self.results and not failed else "FAILED\n")


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--write-scenarios":
        write_scenarios(sys.argv[2])
        return
    ini = sys.argv[sys.argv.index("-ini") + 1]
    check = Check(os.path.dirname(os.path.abspath(ini)))
    try:
        check.demo() if "--demo" in sys.argv else check.run()
    except Exception as e:  # a check that cannot go on is a failure, not a hang
        check.result(False, "check aborted: %r" % e)
    finally:
        check.finish()


if __name__ == "__main__":
    main()
