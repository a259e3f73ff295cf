"""Mounts FUSE programs in the foreground on fresh points and always takes them down.

Every started process id goes to WORK/pids, so that bench/run can still reap a
process whose mount this script could not take down itself.
"""
import contextlib
import os
import subprocess
import time

MOUNT_TIMEOUT = 20  # seconds for a mount to appear
EXIT_TIMEOUT = 20  # seconds for a process to exit once unmounted


class MountError(Exception):
    pass


def is_mounted(point):
    with open("/proc/self/mounts") as mounts:
        return any(line.split()[1] == point for line in mounts)


def olvex(binary, *options):
    """The command line of olvex with the given options."""
    return lambda source, point: [binary, "-f", *options, source, point]


def passthrough(binary):
    return lambda source, point: [binary, source, point, "-f"]


class Mounter:
    def __init__(self, work):
        self.work = work
        self.count = 0

    @contextlib.contextmanager
    def mount(self, command, source):
        """Yields (point, pid) of a live mount; unmounts and reaps on the way out."""
        self.count += 1
        point = os.path.join(self.work, f"mnt-{self.count}")
        log_path = point + ".log"
        os.mkdir(point)
        argv = command(source, point)
        with open(log_path, "wb") as log:
            process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log,
                                       stderr=subprocess.STDOUT)
        with open(os.path.join(self.work, "pids"), "a") as pids:
            pids.write(f"{process.pid}\n")
        try:
            self._wait_live(process, point, log_path, argv)
            yield point, process.pid
        finally:
            self._take_down(process, point)
            os.rmdir(point)

    @staticmethod
    def _wait_live(process, point, log_path, argv):
        deadline = time.monotonic() + MOUNT_TIMEOUT
        while not is_mounted(point):
            if process.poll() is not None:
                with open(log_path, errors="replace") as log:
                    lines = log.read().strip().splitlines()
                last = lines[-1] if lines else "no output"
                raise MountError(f"{os.path.basename(argv[0])} {' '.join(argv[1:-2])} "
                                 f"exited with status {process.returncode}: {last}")
            if time.monotonic() > deadline:
                raise MountError(f"{os.path.basename(argv[0])} did not mount in {MOUNT_TIMEOUT} s")
            time.sleep(0.02)

    @staticmethod
    def _take_down(process, point):
        if is_mounted(point):
            done = subprocess.run(["fusermount", "-u", point], stderr=subprocess.DEVNULL,
                                  timeout=EXIT_TIMEOUT).returncode == 0
            if not done:
                subprocess.run(["fusermount", "-uz", point], stderr=subprocess.DEVNULL,
                               timeout=EXIT_TIMEOUT)
        elif process.poll() is None:
            # Not mounted yet: the FUSE library unmounts by itself if it got that far.
            process.terminate()
        try:
            process.wait(timeout=EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=EXIT_TIMEOUT)
