#!/usr/bin/env python3
"""morva-cli on the kernel's own serial drivers.

Boots a small Linux guest in QEMU (the distribution kernel, busybox and morva-cli in an
initramfs) whose ttyS1 is a 16550 UART and whose ttyUSB0 is an FTDI USB adapter, each wired to
a vk350-sim on a host pseudo-terminal, runs tools/vm/cases.sh in it, and judges what the guest
reports on its console (one JSON object a line) against the simulators' memories. The host
speaks QMP to QEMU over a unix socket to swap lines and to pull and plug the adapter. Nothing
here opens a serial port of the host: the simulators are ptys.

    bash tools/vm-test.sh [--build DIR] [--shell] [--kvm]

  --build DIR  take morva-cli and vk350-sim from DIR (default: build them with the dev preset,
               in build/)
  --shell      a shell in the guest with the same wiring, for trying things by hand
  --kvm        hardware acceleration where it works (the default, TCG, also runs inside a VM
               whose nested KVM guests hang at boot)

Under CI=true a machine that cannot run the stage fails it; elsewhere it is skipped.
MORVA_VM_KEEP=1 keeps the logs and memories even when all passes.
"""
import argparse
import glob
import gzip
import hashlib
import json
import lzma
import os
import pathlib
import re
import selectors
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
VM = ROOT / "tools" / "vm"

# Block layout of the device: program 0-511, libraries 512-895, user data 896-4095.
BLOCK = 256
PROGRAM = (0, 512 * BLOCK)
LIBRARIES = (512 * BLOCK, 384 * BLOCK)
USER = (896 * BLOCK, 3200 * BLOCK)
SMALL_LIBRARIES = (512 * BLOCK, 64 * BLOCK)
# A read of one block at 38400 baud, 10 bits a byte: command 4 bytes, ACK 1, frame 257.
READ_BLOCK_WIRE_US = (4 + 1 + 257) * 10 * 1000000 // 38400
GUEST_LIMIT = 180  # seconds the guest may take for all its cases
PACKAGES = ["qemu-system-x86", "linux-image-amd64", "busybox-static", "cpio"]
BOTH_PORTS = ["/dev/ttyS1", "/dev/ttyUSB0"]

# How late a process of the stage is woken up (boosted like QEMU): the device's time-outs are
# 100 and 120 ms, so a stall of that size explains a time-out that no driver caused.
STALL_WATCH = """
import sys, time
worst = 0
while True:
    began = time.monotonic()
    time.sleep(0.02)
    late = int((time.monotonic() - began) * 1000) - 20
    if late > worst:
        worst = late
        with open(sys.argv[1], "w") as f:
            f.write(str(worst))
"""


class CannotRun(Exception):
    """This machine cannot run the stage."""


class Failed(Exception):
    """The stage failed before there was anything to judge."""


class HostError(Exception):
    """The host could not do what the guest asked."""


class Stopped(Exception):
    """A signal asked the stage to stop; the argument is the exit status."""


def note(text):
    print(f"vm-test: {text}", file=sys.stderr, flush=True)


def step(what, command, **options):
    """A step whose output matters only when it fails: kept aside, its last lines shown then."""
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **options)
    if done.returncode != 0:
        last = done.stdout.decode(errors="replace").splitlines()[-40:]
        raise Failed(f"{what} failed (exit status {done.returncode}); its last lines:\n"
                     + "\n".join("  " + line for line in last))
    return done.stdout


def succeeds(command):
    return subprocess.run(command, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def seconds(value):
    return f"{value:.2f}"


def sha(data):
    return hashlib.sha256(data).hexdigest()


def exit_status(code):
    """A Popen return code as a shell gives it (128 + signal)."""
    return 128 - code if code < 0 else code


def end_process(process, grace):
    """Waits `grace` seconds for the process to end, then TERM (waking it first, should it be
    held), KILL 5 s later; gives up 5 s after that (137: stuck in the kernel)."""
    for signal_number in (None, signal.SIGTERM, signal.SIGKILL):
        if signal_number is not None:
            for s in (signal.SIGCONT, signal_number):
                try:
                    process.send_signal(s)
                except ProcessLookupError:
                    pass
        try:
            return exit_status(process.wait(grace if signal_number is None else 5))
        except subprocess.TimeoutExpired:
            continue
    return 137


# ---- what the machine needs ----------------------------------------------------------------
def installed(package):
    done = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return b"install ok installed" in done.stdout


def install_packages(work, building):
    """Installs what is missing; returns the seconds it took."""
    if not shutil.which("dpkg-query"):
        raise CannotRun("not a Debian system (no dpkg-query)")
    began = time.monotonic()
    if building:
        step("installing what the build needs", ["bash", "tools/deps.sh"], cwd=ROOT)
    missing = [p for p in PACKAGES if not installed(p)]
    if missing:
        if os.geteuid() != 0 and not succeeds(["sudo", "-n", "true"]):
            raise CannotRun(f"missing {' '.join(missing)}, and no root or sudo to install them")
        # The recommended packages of QEMU and the kernel (display, audio and video codecs,
        # firmware) would more than double the install, and the guest uses none of them.
        config = work / "apt.conf"
        config.write_text('APT::Install-Recommends "false";\n')
        environment = dict(os.environ, APT_CONFIG=str(config))
        done = subprocess.run(["bash", "tools/deps.sh", *missing], cwd=ROOT, env=environment)
        if done.returncode != 0:
            raise CannotRun(f"installing {' '.join(missing)} failed")
        note(f"installed {' '.join(missing)} in {seconds(time.monotonic() - began)} s")
    return time.monotonic() - began


def newest_kernel():
    def version(path):
        return [int(n) if n.isdigit() else n for n in re.split(r"(\d+)", path)]
    kernels = sorted(glob.glob("/boot/vmlinuz-*"), key=version)
    if not kernels or not os.access(kernels[-1], os.R_OK):
        raise CannotRun("no readable kernel in /boot")
    kernel = kernels[-1]
    release = kernel[len("/boot/vmlinuz-"):]
    modules = pathlib.Path("/lib/modules") / release
    if not os.access(modules / "modules.dep", os.R_OK):
        raise CannotRun(f"no modules for kernel {release}")
    return kernel, release, modules


def priority_boost():
    """The guest's clock runs on while a busy host keeps QEMU off the processor, and
    morva-cli's time-outs (100 ms between bytes, 120 ms for an ACK) then expire on bytes the
    emulated hardware never had the chance to move. Where allowed, QEMU and the simulators run
    at the lowest real-time priority (the kernel still leaves 5 % of each processor to the rest,
    and the guest idles between transfers); else at a better nice level; else as they are."""
    if succeeds(["chrt", "-r", "1", "true"]):
        return ["chrt", "-r", "1"], "real-time priority"
    done = subprocess.run(["nice", "-n", "-10", "nice"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
    if done.stdout.strip() == b"-10":
        return ["nice", "-n", "-10"], "nice -10"
    return [], "no priority boost"


# ---- the programs --------------------------------------------------------------------------
def programs(build):
    if build is None:
        build = ROOT / "build"
        note("building morva-cli and vk350-sim (the dev preset, in build/)")
        # A configured folder configures itself again when the build files change.
        if not (build / "CMakeCache.txt").exists():
            step("configuring build", ["cmake", "--preset", "dev"], cwd=ROOT)
        step("building morva-cli and vk350-sim",
             ["cmake", "--build", "--preset", "dev", "--target", "morva-cli", "vk350-sim"],
             cwd=ROOT)
    found = {}
    for name in ("morva-cli", "vk350-sim"):
        paths = [p for p in sorted(pathlib.Path(build).rglob(name))
                 if p.is_file() and os.access(p, os.X_OK)]
        if not paths:
            raise Failed(f"no morva-cli or vk350-sim under {build}")
        found[name] = paths[0]
    return found["morva-cli"], found["vk350-sim"]


# ---- data and the initramfs ------------------------------------------------------------------
def make_data(work):
    """uart.upg, usb.upg: programs written over each driver; user.usr: the write that is
    pulled; small.lib: the sessions after a plug. Memories start random, so that every read is
    checked against something other than erased flash."""
    images = work / "images"
    images.mkdir()
    for name, size in (("uart.upg", PROGRAM[1]), ("usb.upg", PROGRAM[1]),
                       ("user.usr", USER[1]), ("small.lib", SMALL_LIBRARIES[1])):
        (images / name).write_bytes(os.urandom(size))
    for name in ("uart", "uart-paced", "usb", "usb-slow"):
        (work / f"{name}.mem").write_bytes(os.urandom(1 << 20))
    shutil.copy(work / "usb-slow.mem", work / "usb-slow.mem.start")
    return images


def module_chain(modules, want):
    """A module and what it needs, needed ones first (modules.dep lists a module's
    dependencies so that loading them backwards works)."""
    for line in (modules / "modules.dep").read_text().splitlines():
        path, _, needs = line.partition(":")
        name = re.sub(r"\.ko.*", "", os.path.basename(path)).replace("-", "_")
        if name == want:
            return list(reversed(needs.split())) + [path]
    return []


def unpacked_module(path):
    if path.suffix == ".xz":
        return lzma.decompress(path.read_bytes())
    if path.suffix == ".gz":
        return gzip.decompress(path.read_bytes())
    if path.suffix == ".zst":
        return subprocess.run(["zstd", "-qdc", path], stdout=subprocess.PIPE, check=True).stdout
    return path.read_bytes()


def make_initramfs(work, cli, images, release, modules):
    stage = work / "initramfs"
    for d in ("bin", "dev", "proc", "sys", "tmp", "etc/morva-vm", "lib/modules", "morva"):
        (stage / d).mkdir(parents=True)
    shutil.copy("/bin/busybox", stage / "bin/busybox")
    if not succeeds(["strip", "-o", stage / "bin/morva-cli", cli]):
        shutil.copy(cli, stage / "bin/morva-cli")
    libraries = subprocess.run(["ldd", cli], stdout=subprocess.PIPE, text=True).stdout
    for library in re.findall(r"(/\S+)", libraries):
        (stage / library[1:]).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(library, stage / library[1:])  # follows the link, as the loader does

    # The USB host and serial drivers with what they need.
    chain = dict.fromkeys(module_chain(modules, "xhci_pci") + module_chain(modules, "ftdi_sio"))
    names = []
    for path in chain:
        name = re.sub(r"\.ko.*", ".ko", os.path.basename(path))
        (stage / "lib/modules" / name).write_bytes(unpacked_module(modules / path))
        names.append(name)
    builtin = modules / "modules.builtin"
    if "ftdi_sio.ko" not in names and not (builtin.exists() and "ftdi_sio" in builtin.read_text()):
        raise CannotRun(f"kernel {release} has no ftdi_sio driver")
    (stage / "etc/morva-vm/modules").write_text("".join(n + "\n" for n in names))

    shutil.copy(VM / "init", stage / "init")
    (stage / "init").chmod(0o755)
    for name in ("cases.sh", "ports.sh"):
        shutil.copy(VM / name, stage / "etc/morva-vm" / name)
    for image in images.iterdir():
        shutil.copy(image, stage / "morva" / image.name)
    # operator may use serial ports (dialout); outsider may not.
    (stage / "etc/passwd").write_text("root:x:0:0:root:/root:/bin/sh\n"
                                      "operator:x:1000:1000:operator:/tmp:/bin/sh\n"
                                      "outsider:x:1001:1001:outsider:/tmp:/bin/sh\n")
    (stage / "etc/group").write_text("root:x:0:\ndialout:x:20:operator\noperator:x:1000:\n"
                                     "outsider:x:1001:\n")
    (stage / "etc/morva-vm/banner").write_text("""
  Morva test guest. /dev/ttyS1: 16550 UART, /dev/ttyUSB0: FTDI adapter, each wired to a
  simulated Vk350. Images in /morva; users operator (dialout) and outsider (su -s /bin/sh NAME).
    morva-cli ports
    morva-cli write program /morva/uart.upg --port /dev/ttyS1
  Ctrl-A C switches to the QEMU monitor and back:
    device_del ftdi1                              pulls the adapter out
    device_add usb-serial,chardev=u1,id=ftdi2     plugs it back
  Ctrl-A X ends QEMU; leaving this shell powers the guest off.

""")
    with open(work / "initrd.cpio", "wb") as archive:
        subprocess.run("find . | cpio -o -H newc --quiet", shell=True, cwd=stage,
                       stdout=archive, check=True)
    return work / "initrd.cpio"


# ---- the simulators --------------------------------------------------------------------------
class Simulators:
    """vk350-sims, each on the pty $work/NAME.port with memory $work/NAME.mem, its wire trace
    in $work/NAME.log. They save their memories when told to stop."""

    def __init__(self, program, work, boost):
        self.program, self.work, self.boost = program, work, boost
        self.running = {}

    def start(self, name, *options):
        w = self.work
        with open(w / f"{name}.out", "wb") as out, open(w / f"{name}.log", "wb") as log:
            process = subprocess.Popen(
                [*self.boost, self.program, "--link", w / f"{name}.port", "--memory",
                 w / f"{name}.mem", "--trace", *options], stdout=out, stderr=log)
        self.running[name] = process
        for _ in range(50):
            if (w / f"{name}.out").stat().st_size > 0:
                return
            if process.poll() is not None:
                break
            time.sleep(0.1)
        raise Failed(f"vk350-sim {name} did not start: {(w / f'{name}.log').read_text()}")

    def pid(self, name):
        return self.running[name].pid

    def stop_all(self):
        for process in self.running.values():
            end_process(process, 0)
        self.running = {}


def held_still(pid):
    """True once every thread of the process has stopped (a stop signal takes effect later
    than kill returns); gives up after 2 s."""
    end = time.monotonic() + 2
    while time.monotonic() < end:
        states = []
        for stat in glob.glob(f"/proc/{pid}/task/*/stat"):
            try:
                states.append(pathlib.Path(stat).read_text().rsplit(")", 1)[1].split()[0])
            except (OSError, IndexError):
                pass
        if states and all(s == "T" for s in states):
            return True
        time.sleep(0.005)
    return False


class LineCounter:
    """Counts the lines of a growing log that match a pattern, reading only what is new."""

    def __init__(self, path, pattern):
        self.path, self.pattern = path, re.compile(pattern)
        self.offset, self.count, self.partial = 0, 0, b""

    def __call__(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except FileNotFoundError:
            return self.count
        self.offset += len(data)
        lines = (self.partial + data).split(b"\n")
        self.partial = lines.pop()
        self.count += sum(1 for line in lines if self.pattern.search(line.decode(errors="replace")))
        return self.count


# ---- the guest -----------------------------------------------------------------------------
class Guest:
    """QEMU with its console and its QMP monitor on unix sockets that the host listens on, read
    through one selector. Console lines keep the moment they came."""

    def __init__(self, work):
        self.work = work
        self.selector = selectors.DefaultSelector()
        self.listeners = {}
        for name in ("console", "qmp"):
            listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            listener.bind(str(work / f"{name}.sock"))
            listener.listen(1)
            self.listeners[name] = listener
        self.connections = {}
        self.buffers = {"console": b"", "qmp": b""}
        self.lines = []  # (when, text) from the console
        self.replies = []  # QMP answers
        self.deleted = set()  # devices QEMU has let go
        self.console_log = open(work / "console.log", "w")
        self.qmp_log = open(work / "qmp.log", "w")

    def socket_options(self):
        return ["-chardev", f"socket,id=con,path={self.work / 'console.sock'}",
                "-serial", "chardev:con",
                "-chardev", f"socket,id=qmp,path={self.work / 'qmp.sock'}",
                "-mon", "chardev=qmp,mode=control"]

    def connect(self, qemu, limit=30):
        """Takes QEMU's two connections, made as it starts."""
        for name, listener in self.listeners.items():
            listener.settimeout(1)
            end = time.monotonic() + limit
            while name not in self.connections:
                try:
                    connection, _ = listener.accept()
                except socket.timeout:
                    if qemu.poll() is not None or time.monotonic() > end:
                        raise Failed(f"QEMU did not connect its {name} "
                                     f"({(self.work / 'qemu.out').read_text()[-2000:]})")
                    continue
                connection.setblocking(False)
                self.selector.register(connection, selectors.EVENT_READ, name)
                self.connections[name] = connection
            listener.close()

    def pump(self, timeout):
        """Takes in whatever comes within `timeout` seconds."""
        for key, _ in self.selector.select(timeout):
            name = key.data
            try:
                data = key.fileobj.recv(65536)
            except BlockingIOError:
                continue
            when = time.monotonic()
            if not data:
                self.selector.unregister(key.fileobj)
                continue
            *complete, self.buffers[name] = (self.buffers[name] + data).split(b"\n")
            for raw in complete:
                text = raw.decode(errors="replace").rstrip("\r")
                if name == "console":
                    self.console_log.write(text + "\n")
                    self.lines.append((when, text))
                else:
                    self.qmp_message(text)
        self.console_log.flush()

    def qmp_message(self, text):
        self.qmp_log.write(text + "\n")
        self.qmp_log.flush()
        try:
            message = json.loads(text)
        except ValueError:
            return
        if message.get("event") == "DEVICE_DELETED":
            self.deleted.add(message.get("data", {}).get("device"))
        elif "return" in message or "error" in message:
            self.replies.append(message)

    def open(self):
        return bool(self.selector.get_map())

    def next_line(self, timeout):
        if not self.lines:
            self.pump(timeout)
        return self.lines.pop(0) if self.lines else None

    def say(self, text):
        self.connections["console"].sendall(text.encode() + b"\n")

    def qmp(self, command, **arguments):
        """Sends a command and waits (10 s) for its answer."""
        request = {"execute": command}
        if arguments:
            request["arguments"] = arguments
        self.connections["qmp"].sendall(json.dumps(request).encode() + b"\n")
        end = time.monotonic() + 10
        while not self.replies:
            if time.monotonic() > end:
                raise HostError(f"QMP did not answer {command}")
            self.pump(0.2)
        reply = self.replies.pop(0)
        if "error" in reply:
            raise HostError(f"QMP refused {command}: {json.dumps(reply)}")
        return reply["return"]

    def wait_deleted(self, device):
        """Until QEMU has let the device go (10 s), so that its chardev is free."""
        end = time.monotonic() + 10
        while device not in self.deleted:
            if time.monotonic() > end:
                raise HostError(f"{device} was never deleted")
            self.pump(0.2)


class Host:
    """What the guest asks of the host (its {"wait": TOKEN} lines), and what the host saw."""

    def __init__(self, guest, sims, work):
        self.guest, self.sims, self.work = guest, sims, work
        self.usb_line, self.usb_number, self.plug_number = "u1", 1, 1
        self.plug_trace = {1: 0}  # the QEMU trace's length when each plug came
        self.pulled_at = None
        self.held = None
        self.ended_after_pull = {}  # session: seconds from the pull to its end
        self.chip_low_latency = {}  # plug: latency values the driver sent the chip
        self.block_commands = LineCounter(work / "usb-slow.log", r"(read|write) block [0-9]+$")

    def trace_lines(self):
        try:
            with open(self.work / "qemu-trace.log", "rb") as f:
                return sum(1 for _ in f)
        except FileNotFoundError:
            return 0

    def chip_latency_requests(self):
        """The latency the FTDI driver set in the chip (request 0x4009) since the plug."""
        with open(self.work / "qemu-trace.log", errors="replace") as f:
            lines = f.readlines()[self.plug_trace[self.plug_number]:]
        return re.findall(r"got control 0x4009, value (0x[0-9a-f]*)", "".join(lines))

    def plug(self):
        self.usb_number += 1
        self.plug_number += 1
        self.plug_trace[self.plug_number] = self.trace_lines()
        self.guest.qmp("device_add", driver="usb-serial", chardev=self.usb_line,
                       id=f"ftdi{self.usb_number}")

    def unplug(self, sim):
        """QEMU 7.2 crashes (usb_wakeup() on a device already off its bus) when a byte arrives
        on the adapter's line between the unplug and the device's release, so the simulator on
        that line is held still until QEMU has let the device go (released(), at the next
        plug); what it wrote before has been taken by then."""
        self.held = sim
        os.kill(self.sims.pid(sim), signal.SIGSTOP)
        if not held_still(self.sims.pid(sim)):
            raise HostError(f"vk350-sim {sim} did not stop")
        self.pulled_at = time.monotonic()
        self.guest.qmp("device_del", id=f"ftdi{self.usb_number}")

    def released(self):
        self.guest.wait_deleted(f"ftdi{self.usb_number}")
        os.kill(self.sims.pid(self.held), signal.SIGCONT)

    def flowing(self):
        """The session in the guest is moving blocks: six more commands reached the device."""
        target = self.block_commands() + 6
        end = time.monotonic() + 20
        while self.block_commands() < target:
            if time.monotonic() > end:
                raise HostError("no blocks flowing")
            self.guest.pump(0.05)
        # Only the first session on a plug: later ones find the chip as the first left it.
        self.chip_low_latency.setdefault(self.plug_number, self.chip_latency_requests())

    def act(self, token):
        if token == "uart-paced":  # the 16550 keeps its place on the bus; only its line changes
            self.guest.qmp("chardev-change", id="s1", backend={
                "type": "serial", "data": {"device": str(self.work / "uart-paced.port")}})
        elif token == "usb-swap":  # a USB device cannot change lines while plugged
            self.unplug("usb")
            self.pulled_at = None
            self.released()
            self.guest.qmp("chardev-remove", id="u1")
            self.guest.qmp("chardev-add", id="u2", backend={
                "type": "serial", "data": {"device": str(self.work / "usb-slow.port")}})
            self.usb_line = "u2"
            self.plug()
        elif token == "flowing":
            self.flowing()
        elif token == "pull":
            self.unplug("usb-slow")
        elif token == "plug":
            self.released()
            self.plug()
        else:
            raise HostError("no such action")

    def ended(self, name, when):
        if self.pulled_at is not None:
            self.ended_after_pull[name] = when - self.pulled_at
            self.pulled_at = None


class Report:
    """What the guest told, by kind."""

    def __init__(self):
        self.cases, self.files, self.latency, self.errors = {}, {}, [], []
        self.boot, self.done = None, False

    def take(self, message):
        if "case" in message:
            self.cases[message["case"]] = message
        elif "file" in message:
            self.files[message["file"]] = message
        elif "latency" in message:
            self.latency.append(message)
        elif "error" in message:
            self.errors.append(message["error"])
        elif "done" in message:
            self.done = True


def json_line(text):
    if not text.startswith("{"):
        return None
    try:
        message = json.loads(text)
    except ValueError:
        return None
    return message if isinstance(message, dict) else None


def run_guest(guest, host, qemu, report, started):
    """Reads the console until the guest is done; returns the host's own problems."""
    problems = []
    try:
        guest.qmp("qmp_capabilities")
    except HostError:
        problems.append("no QMP")
    deadline = started + GUEST_LIMIT
    while not report.done:
        item = guest.next_line(1)
        now = time.monotonic()
        if item is None:
            if qemu.poll() is not None and not guest.open():
                break
            if now > deadline:
                problems.append(f"the guest ran out of its {GUEST_LIMIT} s")
                break
            if report.boot is None and now - started > 60:
                problems.append("the guest did not reach its init within 60 s")
                break
            continue
        when, text = item
        message = json_line(text)
        if message is None:
            continue
        if "boot" in message:
            report.boot = when - started
        elif "ended" in message:
            host.ended(message["ended"], when)
        elif "wait" in message:
            token = message["wait"]
            try:
                host.act(token)
                guest.say(token)
            except HostError as error:
                problems.append(f"could not {token}: {error}")
                guest.say(f"failed-{token}")
        report.take(message)
    return problems


# ---- judging -------------------------------------------------------------------------------
class Judged:
    """Everything the verdicts read: the guest's report, the host's notes, the files."""

    def __init__(self, work, images, report, host, problems):
        self.work, self.images, self.report, self.host = work, images, report, host
        self.problems = problems
        self.memory = {}

    def mem(self, name):
        if name not in self.memory:
            self.memory[name] = (self.work / f"{name}.mem").read_bytes()
        return self.memory[name]

    def region(self, name, region, length=None):
        at, size = region
        return self.mem(name)[at:at + (size if length is None else length)]

    def case(self, name):
        return self.report.cases.get(name, {})

    def pulled_secs(self, name):
        return self.host.ended_after_pull.get(name, 0)


# Each verdict is a title and what it must show: checks that give a problem's text or None.
def exits(name, status):
    def check(j):
        got = j.case(name).get("status")
        if got == status:
            return None
        return f"{name} exited {'never' if got is None else got}, not {status}"
    return check


def says(name, text):
    return lambda j: None if text in "\n".join(j.case(name).get("err", [])) else \
        f'{name} did not say "{text}"'


def prints(name, text):
    return lambda j: None if text in "\n".join(j.case(name).get("out", [])) else f'no "{text}"'


def lists_both_ports(name):
    return lambda j: None if j.case(name).get("out") == BOTH_PORTS else \
        f"it listed: {' '.join(j.case(name).get('out', [])) or 'nothing'}"


def memory_holds(mem, region, image, what):
    return lambda j: None if j.region(mem, region) == (j.images / image).read_bytes() else \
        f"the device's {what} blocks differ from the image"


def file_is_memory(name, mem, region, what):
    def check(j):
        found = j.report.files.get(name, {})
        if found.get("size") != region[1]:
            return f"read file holds {found.get('size') or 'no'} bytes"
        if found.get("sha") != sha(j.region(mem, region)):
            return f"read file's checksum differs from the device's {what} blocks"
        return None
    return check


def qemu_traced(pattern, problem):
    def check(j):
        return None if re.search(pattern, (j.work / "qemu-trace.log").read_text(errors="replace"),
                                 re.M) else problem
    return check


def ftdi_flow_control_off(j):
    """The tty opens at 9600 with XON/XOFF; the session's settings come right after."""
    last = None
    fast = False
    for line in (j.work / "qemu-trace.log").read_text(errors="replace").splitlines():
        fast = fast or "baud rate 38400" in line
        if fast and "set_flow_control" in line:
            last = line.split()[-1]
    return None if last == "0" else "the FTDI chip was left with flow control on"


def guest_ran_everything(j):
    problems = [] if j.report.done else \
        [f"the guest did not finish its cases (see {j.work / 'console.log'})"]
    for f in [*(j.images / n for n in ("uart.upg", "usb.upg", "user.usr", "small.lib")),
              *(j.work / f"{n}.mem" for n in ("uart", "uart-paced", "usb", "usb-slow"))]:
        if not f.exists() or f.stat().st_size == 0:
            problems.append(f"{f} is gone before the judging")
    return problems + j.problems + j.report.errors


def pulled(name):
    """The adapter pulled in the session's middle: the device-gone failure, soon."""
    def check(j):
        after = j.host.ended_after_pull.get(name)
        if after is None:
            return "its end was not seen after the pull"
        return f"it ended {seconds(after)} s after the pull" if after > 2 else None
    return [exits(name, 1), says(name, "Fail: Error code : 5"), check]


def pulled_read_size(j):
    size = j.report.files.get("pull-read", {}).get("size") or 0
    return size if isinstance(size, int) else 0


def read_holds_whole_blocks(j):
    size = pulled_read_size(j)
    if not (0 < size < PROGRAM[1] and size % BLOCK == 0):
        return f"read file holds {size} bytes, not some whole blocks"
    if j.report.files["pull-read"].get("sha") != sha(j.region("usb-slow", PROGRAM, size)):
        return f"read file is not the device's first {size} bytes"
    return None


def blocks_written(j):
    """The user blocks the device took from the file before the pull."""
    device, image = j.region("usb-slow", USER), (j.images / "user.usr").read_bytes()
    return next((b for b in range(USER[1] // BLOCK)
                 if device[b * BLOCK:(b + 1) * BLOCK] != image[b * BLOCK:(b + 1) * BLOCK]), 0)


def write_kept_whole_blocks(j):
    """The device holds the file's first blocks and, from the block the pull interrupted on,
    what it held before: whole blocks only."""
    problems = []
    if j.report.files.get("pull-write-source", {}).get("sha") != \
            sha((j.images / "user.usr").read_bytes()):
        problems.append("the source file changed")
    written = blocks_written(j)
    if not 0 < written < USER[1] // BLOCK:
        problems.append(f"the device took {written} blocks")
    start = (j.work / "usb-slow.mem.start").read_bytes()
    rest = USER[0] + written * BLOCK
    if j.mem("usb-slow")[rest:USER[0] + USER[1]] != start[rest:USER[0] + USER[1]]:
        problems.append(f"the device's user blocks after block {written} changed")
    return problems


def low_latency_during_sessions(j):
    """The driver's probe sets the chip's own value (QEMU's FTDI reports 0); a session asks
    for 1."""
    problems = []
    for plug, user in ((2, "root"), (3, "operator")):
        value = next((m["latency"] for m in j.report.latency if m["plug"] == plug
                      and m["when"] == "during" and m["user"] == user), None)
        if value != "1":
            problems.append(f"latency_timer read {value or 'nothing'} during {user}'s session")
        requests = j.host.chip_low_latency.get(plug, [])
        if "0x1" not in requests:
            problems.append(f"the chip was not set to 1 ms for {user} "
                            f"(requests: {' '.join(requests) or 'none'})")
    return problems


def verdicts():
    """(title, checks): a title may read what was judged; a check gives a problem, a list of
    them, or None."""
    table = [
        ("the guest ran every case", [guest_ran_everything]),
        ("ports lists exactly /dev/ttyS1 and /dev/ttyUSB0 (not the console ttyS0, not the "
         "UART-less ttyS2/3)", [exits("ports", 0), lists_both_ports("ports")]),
    ]
    for d, port, title in (("uart", "/dev/ttyS1", "16550 UART"),
                           ("usb", "/dev/ttyUSB0", "FTDI adapter")):
        table += [
            (f"{title}: detect", [exits(f"{d}-detect", 0),
                                  prints(f"{d}-detect", f"Vk350 found on {port}")]),
            (f"{title}: write program (device memory equals the image byte for byte)",
             [exits(f"{d}-write", 0), memory_holds(d, PROGRAM, f"{d}.upg", "program")]),
            (f"{title}: verify program", [exits(f"{d}-verify", 0)]),
            (f"{title}: read program (file checksum equals the device memory)",
             [exits(f"{d}-read", 0), file_is_memory(f"{d}-read", d, PROGRAM, "program")]),
        ]
    table += [
        ("a user outside dialout is refused with the dialout hint",
         [exits("not-in-dialout", 3), says("not-in-dialout", "Port open error !"),
          says("not-in-dialout", "Permission denied"), says("not-in-dialout", "dialout")]),
        *((f"a second session ({who}) on the UART in use is refused as busy",
           [exits(name, 3), says(name, "Port open error !"),
            says(name, "Another program is using the port")])
          for name, who in (("busy-root", "root"), ("busy-dialout", "dialout user"))),
        # What the drivers asked of the emulated chips: a pty takes any setting, a UART does not.
        ("16550 UART: the driver set the chip to 38400 8N1",
         [qemu_traced(r"serial_update_parameters baudrate=38400 parity='N' data=8 stop=1",
                      "the 16550 was never set to 38400 8N1")]),
        ("FTDI adapter: the driver set the chip to 38400 8N1, no flow control",
         [qemu_traced(r"usb_serial_set_baud .* baud rate 38400",
                      "the FTDI chip was never set to 38400 baud"),
          qemu_traced(r"usb_serial_set_data .* parity N, data bits 8, stop bits 1",
                      "the FTDI chip was never set to 8N1"),
          ftdi_flow_control_off]),
        ("16550 UART at 38400 baud: read libraries (file checksum equals the device memory)",
         [exits("uart-paced-read", 0),
          file_is_memory("uart-paced-read", "uart-paced", LIBRARIES, "library")]),
        (lambda j: f"adapter pulled mid-read: Error code 5 in {seconds(j.pulled_secs('pull-read'))}"
                   f" s, file holds {pulled_read_size(j) // BLOCK} whole blocks",
         [*pulled("pull-read"), read_holds_whole_blocks]),
        ("plugged back: listed again, a dialout user's write completes",
         [exits("ports-plug3", 0), lists_both_ports("ports-plug3"), exits("operator-write", 0),
          memory_holds("usb-slow", SMALL_LIBRARIES, "small.lib", "library")]),
        (lambda j: f"adapter pulled mid-write: Error code 5 in "
                   f"{seconds(j.pulled_secs('pull-write'))} s, device took {blocks_written(j)} "
                   f"whole blocks",
         [*pulled("pull-write"), write_kept_whole_blocks]),
        ("plugged back again: listed, root's verify completes",
         [exits("ports-plug4", 0), lists_both_ports("ports-plug4"),
          exits("verify-after-plug", 0)]),
        ("FTDI adapter: latency 1 ms while a session holds the port (root, dialout user)",
         [low_latency_during_sessions]),
    ]
    return table


def judge(j):
    """Prints a PASS or FAIL line per verdict; returns (passed, failed)."""
    passed = failed = 0
    for title, checks in verdicts():
        title = title(j) if callable(title) else title
        problems = []
        for check in checks:
            found = check(j)
            problems += found if isinstance(found, list) else [found] if found else []
        if problems:
            print(f"FAIL  {title}: {''.join(p + '; ' for p in problems)}")
            failed += 1
        else:
            print(f"PASS  {title}")
            passed += 1
    return passed, failed


def summary(j, facts):
    print("-- latency_timer in sysfs, per plug of the adapter:")
    for m in j.report.latency:
        value = m["latency"] or "none"
        print(f"   plug={m['plug']} when={m['when']} user={m['user']} value={value}")
    chip = j.host.chip_low_latency
    print("-- latency values the driver sent the chip (FTDI request 0x09), from the plug to the "
          f"middle of the first session: plug 2 (root) {' '.join(chip.get(2, [])) or 'none'}; "
          f"plug 3 (operator) {' '.join(chip.get(3, [])) or 'none'}")
    print(f"-- host: QEMU and the simulators at {facts['boost']}; a process of the stage was "
          f"woken up to {facts['stall']} ms late (the device's time-outs are 100 and 120 ms)")
    print(f"-- boot to init: {seconds(j.report.boot or 0)} s; guest: {seconds(facts['guest'])} s;"
          f" stage: {seconds(time.monotonic() - facts['began'])} s (install: "
          f"{seconds(facts['install'])} s)")
    blocks = LIBRARIES[1] // BLOCK
    wire_us = blocks * READ_BLOCK_WIRE_US
    secs = j.case("uart-paced-read").get("secs")
    ratio = (secs or 0) * 1e6 / wire_us
    print(f"-- paced read over the 16550: libraries, {blocks} blocks in "
          f"{'?' if secs is None else secs} s, wire limit {seconds(wire_us / 1e6)} s, "
          f"ratio {ratio:.3f}")


# ---- the stage -----------------------------------------------------------------------------
def qemu_command(accel, kernel, initrd, work):
    return ["qemu-system-x86_64", *accel, "-m", "256", "-smp", "1", "-nodefaults",
            "-no-reboot", "-display", "none", "-kernel", kernel, "-initrd", initrd,
            "-chardev", f"serial,id=s1,path={work / 'uart.port'}",
            "-device", "qemu-xhci,id=xhci",
            "-chardev", f"serial,id=u1,path={work / 'usb.port'}",
            "-device", "usb-serial,chardev=u1,id=ftdi1",
            # What the drivers ask of the emulated chips: line settings, the FTDI's requests.
            "-trace", "usb_serial_set_*", "-trace", "usb_serial_handle_control",
            "-trace", "serial_update_parameters", "-D", work / "qemu-trace.log"]


# Quiet kernel: its messages would split the report lines on the console.
APPEND = "console=ttyS0 loglevel=1 panic=-1"


def shell(qemu, sims, work):
    note(f"simulators' memories: {work / 'uart.mem'} (ttyS1), {work / 'usb.mem'} (ttyUSB0), "
         "saved when the guest ends. To pull the adapter mid-transfer without crashing QEMU "
         f"7.2, hold its simulator first: kill -STOP {sims.pid('usb')}; kill -CONT it after "
         "device_del.")
    subprocess.run([*qemu, "-append", f"{APPEND} morva.mode=shell", "-serial", "mon:stdio",
                    "-serial", "chardev:s1"])


def cases(qemu, sims, work, images, boost, facts):
    """Runs the guest's cases and judges them; returns the number of failed verdicts."""
    # The UART's second line keeps to 38400 baud, for the timed read. The adapter's second
    # line answers 10 ms late, so that a transfer lasts long enough to be pulled in its middle
    # yet keeps most of the 120 ms a PC waits for an ACK (a paced 257-byte frame takes 67 ms of
    # it, and a loaded host can take the rest).
    sims.start("uart-paced", "--paced")
    sims.start("usb-slow", "--latency", "10")
    guest = Guest(work)
    host = Host(guest, sims, work)
    report = Report()
    stall_file = work / "stall"
    watch = subprocess.Popen([*boost, sys.executable, "-c", STALL_WATCH, stall_file])
    started = time.monotonic()
    with open(work / "qemu.out", "wb") as out:
        process = subprocess.Popen(["timeout", "-k", "5", str(GUEST_LIMIT), *boost, *qemu,
                                    "-append", f"{APPEND} morva.mode=cases",
                                    *guest.socket_options(), "-serial", "chardev:s1"],
                                   stdout=out, stderr=subprocess.STDOUT)
    facts["processes"] += [process, watch]
    guest.connect(process)
    problems = run_guest(guest, host, process, report, started)
    facts["guest"] = time.monotonic() - started
    end_process(watch, 0)
    facts["stall"] = stall_file.read_text() if stall_file.exists() else "0"
    status = end_process(process, 10)  # it powers off by itself
    if status != 0:
        problems.append(f"QEMU ended with status {status} (see qemu.out)")
    sims.stop_all()  # the simulators save their memories now

    j = Judged(work, images, report, host, problems)
    print(f"== vm-test: morva-cli in a QEMU guest, kernel {facts['release']}")
    passed, failed = judge(j)
    summary(j, facts)
    print(f"{passed} passed, {failed} failed")
    if failed:
        print("-- last console lines:")
        for line in (work / "console.log").read_text(errors="replace").splitlines()[-30:]:
            print(f"   {line}")
    return failed


def stage(args, work, facts):
    """The stage; returns its exit status."""
    building = args.build is None
    facts["install"] = install_packages(work, building)
    kernel, facts["release"], modules = newest_kernel()
    if args.kvm:
        if not os.access("/dev/kvm", os.R_OK | os.W_OK):
            raise CannotRun("--kvm, but /dev/kvm is not usable")
        accel = ["-accel", "kvm", "-cpu", "host"]
    else:
        accel = ["-accel", "tcg"]
    boost, facts["boost"] = priority_boost()
    cli, sim = programs(args.build)
    images = make_data(work)
    initrd = make_initramfs(work, cli, images, facts["release"], modules)
    sims = Simulators(sim, work, boost)
    facts["sims"] = sims
    sims.start("uart")
    sims.start("usb")
    qemu = qemu_command(accel, kernel, initrd, work)
    if args.shell:
        facts["keep"] = True
        shell(qemu, sims, work)
        return 0
    if cases(qemu, sims, work, images, boost, facts):
        facts["keep"] = True
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser(prog="tools/vm-test.sh", add_help=False)
    parser.add_argument("--build")
    parser.add_argument("--shell", action="store_true")
    parser.add_argument("--kvm", action="store_true")
    parser.add_argument("-h", "--help", action="store_true")
    args, unknown = parser.parse_known_args()
    sys.stdout.reconfigure(line_buffering=True)
    if args.help:
        print(__doc__.split("\n\n", 2)[2].rstrip())
        return 0
    if unknown:
        note(f"unknown option {unknown[0]} (see --help)")
        return 2
    if args.shell and not sys.stdin.isatty():
        note("--shell needs a terminal")
        return 2

    def stop(number, _frame):
        raise Stopped(128 + number)
    signal.signal(signal.SIGINT, stop)
    signal.signal(signal.SIGTERM, stop)

    work = pathlib.Path(tempfile.mkdtemp(prefix="morva-vm.", dir=os.environ.get("TMPDIR")))
    facts = {"began": time.monotonic(), "install": 0, "processes": [], "sims": None,
             "keep": os.environ.get("MORVA_VM_KEEP") == "1"}
    try:
        return stage(args, work, facts)
    except CannotRun as reason:
        if os.environ.get("CI") == "true":
            note(f"FAIL: this machine cannot run the stage: {reason}")
            return 1
        note(f"SKIP: this machine cannot run the stage: {reason}")
        return 0
    except Failed as reason:
        note(f"FAIL: {reason}")
        facts["keep"] = True
        return 1
    except Stopped as stopped:
        return stopped.args[0]
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        for process in facts["processes"]:
            if process.poll() is None:
                end_process(process, 0)
        if facts["sims"]:
            facts["sims"].stop_all()
        if facts["keep"]:
            note(f"logs and memories kept in {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
