#!/usr/bin/env python3
"""Sync at team scale, on the loopback, with a stock svnserve made by
scripts/team-server.sh and machines that are reference daemons with folders
of their own, run with the daemon's default intervals.

For each N in --machines: N machines hold one space in mode 3; the first
writes a new file --changes times, and the time until the file is on every
other machine is recorded (p50, p95). Then, over a quiet --quiet seconds:
each machine's CPU (share of one core) and resident memory, and the
server's requests per second, counted from svnserve's log (one line a
request), all machines together and the busiest machine alone.

Then the deep tree (--files files in --folders folders, one pair of
machines): share + checkout through the daemons against svn import + svn
checkout of the same tree; the daemons' memory and inotify watches in mode
3; the arrival of one change deep in the tree; and a burst of --burst
changed files: the time until the writer's daemon has committed them all
and until they are all on the other machine, against one svn commit of the
same change.

With --replica, instead: a master (Apache, scripts/team-server.sh apache)
and a read replica of it (team-server.sh replica), one machine on each in
mode 3 on one space; each writes a new file --changes times in turn, and
the time until it is on the other machine is recorded each way (p50,
p95). Then the access rules on both: a user who is no member of the space
can neither read nor write it through the master or the replica, and reads
and writes a space of her own through both.

  bench/team_sync_bench.py [--build build/release] [--machines 2,5,10,20]
      [--changes 20] [--quiet 60] [--files 100000] [--folders 10000]
      [--burst 10000] [--skip-deep] [--skip-team] [--replica]

A short run: --machines 2,3 --changes 5 --quiet 10 --files 2000 --folders 200 --burst 200
"""
import argparse
import hashlib
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TICKS = os.sysconf("SC_CLK_TCK")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def read(path, mode="r"):
    try:
        with open(path, mode) as file:
            return file.read()
    except OSError:
        return None


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as file:
        file.write(text)


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, max(0, round(share * (len(ordered) - 1))))]


def wait_until(check, limit, pause=0.01):
    """Seconds until check() held, or None past limit."""
    began = time.monotonic()
    while not check():
        if time.monotonic() - began > limit:
            return None
        time.sleep(pause)
    return time.monotonic() - began


class Server:
    """A server of scripts/team-server.sh (kind start: svnserve; apache;
    replica, with the master's arguments before the users), with its users."""

    def __init__(self, folder, users, kind="start", before_users=(), environment=None):
        self.folder = folder
        self.port = free_port()
        run = subprocess.run([SOURCE + "/scripts/team-server.sh", kind, folder, str(self.port), *before_users] +
                             [f"{user}:{user}-secret" for user in users],
                             check=True, capture_output=True, text=True, env=environment)
        self.url = run.stdout.strip().splitlines()[-1]
        self.realm = f"<{self.url.split(':')[0]}://127.0.0.1:{self.port}> korvane-team"

    def log_lines(self):
        return (read(self.folder + "/svnserve.log") or "").splitlines()

    def stop(self):
        subprocess.run([SOURCE + "/scripts/team-server.sh", "stop", self.folder], capture_output=True)


class Machine:
    """A reference daemon with its own home, XDG folders, user and
    Subversion configuration, driven through the korvane tool."""

    def __init__(self, top, user, server, build):
        self.user = user
        self.home = f"{top}/{user}"
        self.build = build
        for folder in ("run", "state", "data", "config/korvane", "svn/auth/svn.simple", "tmp", "files"):
            os.makedirs(f"{self.home}/{folder}", exist_ok=True)
        os.chmod(self.home + "/run", 0o700)
        write(self.home + "/svn/config", "[auth]\npassword-stores =\n[miscellany]\nenable-auto-props = no\n")
        password = user + "-secret"
        entry = "".join(f"K {len(k)}\n{k}\nV {len(v)}\n{v}\n" for k, v in
                        (("passtype", "simple"), ("password", password), ("svn:realmstring", server.realm),
                         ("username", user)))
        write(f"{self.home}/svn/auth/svn.simple/{hashlib.md5(server.realm.encode()).hexdigest()}", entry + "END\n")
        write(self.home + "/config/korvane/daemon.conf",
              f"service = {server.url}\nsubversion-config = {self.home}/svn\nuser = {user}\n")
        self.env = dict(os.environ, HOME=self.home, XDG_RUNTIME_DIR=self.home + "/run",
                        XDG_STATE_HOME=self.home + "/state", XDG_DATA_HOME=self.home + "/data",
                        XDG_CONFIG_HOME=self.home + "/config", TMPDIR=self.home + "/tmp", DBUS_SESSION_BUS_ADDRESS="")
        self.process = subprocess.Popen([build + "/reference/KorvaneBkgProc"], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if wait_until(lambda: os.path.exists(self.home + "/run/DalvDaemonCommand"), 20) is None:
            raise RuntimeError(f"the daemon of {user} does not serve its pipe")

    def tool(self, *arguments):
        run = subprocess.run([self.build + "/bin/korvane", *arguments], env=self.env, capture_output=True, text=True)
        if run.returncode != 0:
            raise RuntimeError(f"korvane {' '.join(arguments)} as {self.user}: {run.stdout}{run.stderr}")
        return run.stdout

    def svn(self, *arguments):
        return subprocess.run(["svn", "--non-interactive", "--config-dir", self.home + "/svn", *arguments],
                              check=True, capture_output=True, text=True).stdout

    def files(self, name):
        return f"{self.home}/files/{name}"

    def log(self):
        return read(self.home + "/state/korvane/daemon.log") or ""

    def cpu_seconds(self):
        fields = (read(f"/proc/{self.process.pid}/stat") or "").rsplit(")", 1)[-1].split()
        return (int(fields[11]) + int(fields[12])) / TICKS if len(fields) > 12 else 0.0

    def resident_mib(self):
        for line in (read(f"/proc/{self.process.pid}/status") or "").splitlines():
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
        return 0.0

    def watches(self):
        count = 0
        fds = f"/proc/{self.process.pid}/fdinfo"
        for fd in os.listdir(fds):
            count += sum(1 for line in (read(f"{fds}/{fd}") or "").splitlines() if line.startswith("inotify wd:"))
        return count

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def share_with_all(machines, space, fill=None):
    """The first machine shares files/SPACE (made by fill), invites the
    others, who check it out; all in mode 3. Returns (share, checkout)
    seconds, the checkout being the second machine's."""
    first = machines[0]
    folder = first.files(space)
    if fill:
        fill(folder)
    else:
        write(folder + "/readme.txt", "the team's space\n")
    began = time.monotonic()
    first.tool("share", folder, "--wait")
    shared = time.monotonic() - began
    checkout = 0.0
    for machine in machines[1:]:
        first.tool("invite", space, machine.user)
        os.makedirs(machine.files(space), exist_ok=True)
        began = time.monotonic()
        machine.tool("menu", machine.files(space), "--invoke", "verb:ascheckout", "--wait")
        checkout = checkout or time.monotonic() - began
    for machine in machines:
        machine.tool("activate-path", machine.files(space), "3", "--wait")
    return shared, checkout


def settle(machines, seconds, limit=1800):
    """Waits until no machine's log has grown for seconds: the commits and
    updates that followed the last step are over."""
    sizes = None
    still_since = time.monotonic()
    began = time.monotonic()
    while time.monotonic() - began < limit:
        now = [len(machine.log()) for machine in machines]
        if now != sizes:
            sizes, still_since = now, time.monotonic()
        elif time.monotonic() - still_since >= seconds:
            return
        time.sleep(0.5)


def quiet_window(machines, server, seconds):
    """CPU share of a core and memory of each machine, and the server's
    requests per second, over a quiet window."""
    before_cpu = [machine.cpu_seconds() for machine in machines]
    before_log = len(server.log_lines())
    began = time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - began
    lines = server.log_lines()[before_log:]
    cpu = [(machine.cpu_seconds() - cpu0) / elapsed for machine, cpu0 in zip(machines, before_cpu)]
    per_user = {}
    for line in lines:
        fields = line.split()
        if len(fields) > 3:
            per_user[fields[3]] = per_user.get(fields[3], 0) + 1
    return {"cpu_max": max(cpu), "cpu_mean": statistics.mean(cpu),
            "rss_max": max(machine.resident_mib() for machine in machines),
            "requests": len(lines) / elapsed,
            "busiest": max(per_user.values(), default=0) / elapsed}


def team_rows(arguments, top, build):
    rows = []
    for count in arguments.machines:
        place = f"{top}/team{count}"
        users = [f"m{index:02d}" for index in range(count)]
        server = Server(place + "/server", users)
        machines = []
        try:
            for user in users:
                machines.append(Machine(place, user, server, build))
            share_with_all(machines, "plans")
            arrivals = []
            for change in range(arguments.changes):
                name = f"change{change}.txt"
                text = f"change {change} by {machines[0].user}\n"
                write(machines[0].files("plans/" + name), text)
                seconds = wait_until(lambda: all(read(m.files("plans/" + name)) == text for m in machines[1:]),
                                     arguments.limit)
                if seconds is None:
                    raise RuntimeError(f"change {change} did not reach every machine in {arguments.limit} s")
                arrivals.append(seconds)
            settle(machines, arguments.settle)
            quiet = quiet_window(machines, server, arguments.quiet)
            rows.append((count, percentile(arrivals, 0.5), percentile(arrivals, 0.95), quiet))
            print(f"N={count}: p50 {rows[-1][1]:.2f} s, p95 {rows[-1][2]:.2f} s, arrivals {[round(a, 2) for a in arrivals]}",
                  file=sys.stderr, flush=True)
        finally:
            for machine in machines:
                machine.stop()
            server.stop()
            shutil.rmtree(place, ignore_errors=True)
    return rows


def fill_tree(folder, files, folders):
    """files small files spread over folders folders, ten deep at most."""
    per_folder = max(1, files // folders)
    for index in range(folders):
        path = folder + "".join(f"/d{(index >> shift) % 10}" for shift in (0, 4, 8)) + f"/f{index}"
        os.makedirs(path, exist_ok=True)
        for item in range(per_folder if index < folders - 1 else files - per_folder * (folders - 1)):
            with open(f"{path}/file{item}.txt", "w") as file:
                file.write(f"file {item} of folder {index}\n")


def tree_files(folder):
    for base, _, names in os.walk(folder):
        if "/.svn" in base or base.endswith(".svn"):
            continue
        for name in names:
            yield os.path.join(base, name)


def deep_rows(arguments, top, build):
    place = top + "/deep"
    server = Server(place + "/server", ["ann", "bob"])
    machines = []
    try:
        machines = [Machine(place, user, server, build) for user in ("ann", "bob")]
        ann, bob = machines
        plain = place + "/plain"
        fill_tree(plain, arguments.files, arguments.folders)
        ann.tool("create-space", "plain", "plain svn", "ann")
        began = time.monotonic()
        ann.svn("import", "-q", "-m", "plain", plain, server.url + "/plain/folder")
        svn_import = time.monotonic() - began
        began = time.monotonic()
        ann.svn("checkout", "-q", server.url + "/plain/folder", place + "/plain-checkout")
        svn_checkout = time.monotonic() - began

        share, checkout = share_with_all(machines, "tree", lambda folder: shutil.copytree(plain, folder))
        settle(machines, arguments.settle)
        rss = [machine.resident_mib() for machine in machines]
        watches = [machine.watches() for machine in machines]

        deep = sorted(d for d, _, _ in os.walk(ann.files("tree")) if ".svn" not in d)[-1]
        write(deep + "/deep-change.txt", "deep in the tree\n")
        target = bob.files("tree") + deep[len(ann.files("tree")):] + "/deep-change.txt"
        deep_arrival = wait_until(lambda: read(target) == "deep in the tree\n", arguments.limit)
        settle(machines, arguments.settle)

        # The burst: burst files rewritten at once, as a branch switch would.
        chosen = sorted(tree_files(ann.files("tree")))[:arguments.burst]
        log_before = len(ann.log())
        began = time.monotonic()
        for path in chosen:
            with open(path, "a") as file:
                file.write("switched\n")
        committed = None
        arrived = None
        targets = [bob.files("tree") + path[len(ann.files("tree")):] for path in chosen]
        last = targets[-1]
        while time.monotonic() - began < arguments.limit * 20:
            if committed is None and "committed " + ann.files("tree") in ann.log()[log_before:] and \
                    ann.svn("status", "-q", ann.files("tree")).strip() == "":
                committed = time.monotonic() - began
            if arrived is None and (read(last) or "").endswith("switched\n") and \
                    all((read(t) or "").endswith("switched\n") for t in targets):
                arrived = time.monotonic() - began
            if committed is not None and arrived is not None:
                break
            time.sleep(0.2)
        commits = ann.log()[log_before:].count("committed " + ann.files("tree"))

        plain_wc = place + "/plain-checkout"
        for path in sorted(tree_files(plain_wc))[:arguments.burst]:
            with open(path, "a") as file:
                file.write("switched\n")
        began = time.monotonic()
        ann.svn("commit", "-q", "-m", "burst", plain_wc)
        svn_commit = time.monotonic() - began
        return {"svn_import": svn_import, "svn_checkout": svn_checkout, "share": share, "checkout": checkout,
                "rss": rss, "watches": watches, "deep_arrival": deep_arrival, "burst_committed": committed,
                "burst_commits": commits, "burst_arrived": arrived, "svn_commit": svn_commit}
    finally:
        for machine in machines:
            machine.stop()
        server.stop()
        shutil.rmtree(place, ignore_errors=True)


def svn_as(config, user, *arguments):
    """A plain Subversion tool as user, without a cache; whether it
    succeeded."""
    return subprocess.run([arguments[0], "--non-interactive", "--no-auth-cache", "--config-dir", config,
                           "--username", user,
                           "--password", user + "-secret", *arguments[1:]],
                          capture_output=True, text=True).returncode == 0


def access_rows(outsider, space, own, master, replica, top):
    """(what, through, expected, held) for the access rules through both
    servers: the outsider neither reads nor writes the space, and reads
    and writes her own."""
    write(top + "/planted.txt", "planted\n")
    rows = []
    for name, server in (("master", master), ("replica", replica)):
        for what, target, expected in ((f"{outsider} reads {space}", space, False),
                                       (f"{outsider} writes {space}", space, False),
                                       (f"{outsider} reads {own}", own, True),
                                       (f"{outsider} writes {own}", own, True)):
            url = f"{server.url}/{target}"
            if "reads" in what:
                done = svn_as(top + "/svn-config", outsider, "svn", "cat", url + "/readme.txt")
            else:
                done = svn_as(top + "/svn-config", outsider, "svnmucc", "-m", "access check", "put", top + "/planted.txt",
                              f"{url}/planted-{name}.txt")
            rows.append((what, name, expected, done == expected))
    return rows


def replica_rows(arguments, top, build):
    """Changes each way between a machine on a master and one on its
    replica, and the access rules through both."""
    place = top + "/replica"
    os.makedirs(place)
    # Apache run by root serves as www-data, which must reach the servers'
    # folders.
    for folder in (top, place):
        os.chmod(folder, 0o711)
    users = ["ann", "bob", "eve"]
    master = Server(place + "/master", users, "apache")
    servers = [master]
    machines = []
    try:
        replica = Server(place + "/replica", users, "replica", [master.url],
                         dict(os.environ, KORVANE_MASTER_FOLDER=master.folder))
        servers.append(replica)
        ann = Machine(place, "ann", master, build)
        bob = Machine(place, "bob", replica, build)
        machines = [ann, bob]
        share_with_all(machines, "plans")
        eve = Machine(place, "eve", master, build)
        machines.append(eve)
        write(eve.files("eves") + "/readme.txt", "eve's own\n")
        eve.tool("share", eve.files("eves"), "--wait")
        arrivals = {"master to replica": [], "replica to master": []}
        for change in range(arguments.changes):
            for way, writer, reader in (("master to replica", ann, bob), ("replica to master", bob, ann)):
                name = f"{writer.user}{change}.txt"
                text = f"change {change} by {writer.user}\n"
                write(writer.files("plans/" + name), text)
                seconds = wait_until(lambda: read(reader.files("plans/" + name)) == text, arguments.limit)
                if seconds is None:
                    raise RuntimeError(f"change {change} {way} did not arrive in {arguments.limit} s")
                arrivals[way].append(seconds)
            print(f"change {change}: " + ", ".join(f"{way} {times[-1]:.2f} s" for way, times in arrivals.items()),
                  file=sys.stderr, flush=True)
        settle(machines, arguments.settle)
        return arrivals, access_rows("eve", "plans", "eves", master, replica, place)
    finally:
        for machine in machines:
            machine.stop()
        for server in reversed(servers):
            server.stop()
        shutil.rmtree(place, ignore_errors=True)


def print_replica(arguments, arrivals, access):
    print(f"a machine on the master and one on its replica, mode 3, one space; {arguments.changes} changes each way")
    print("| way | p50 | p95 | max |")
    print("|-----|-----|-----|-----|")
    for way, times in arrivals.items():
        print(f"| {way} | {percentile(times, 0.5):.2f} s | {percentile(times, 0.95):.2f} s | {max(times):.2f} s |")
    print("targets: p50 <= 1.5 s, p95 <= 3 s each way")
    print("| access | through | expected | held |")
    print("|--------|---------|----------|------|")
    for what, through, expected, held in access:
        print(f"| {what} | {through} | {'allowed' if expected else 'refused'} | {'yes' if held else 'NO'} |")


def seconds(value):
    return "missed" if value is None else f"{value:.2f} s"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=SOURCE + "/build/release")
    parser.add_argument("--machines", default="2,5,10,20", type=lambda text: [int(n) for n in text.split(",")])
    parser.add_argument("--changes", default=20, type=int)
    parser.add_argument("--quiet", default=60.0, type=float, help="seconds of the quiet window")
    parser.add_argument("--settle", default=5.0, type=float,
                        help="seconds without a new line in any daemon's log before a step is measured")
    parser.add_argument("--limit", default=60.0, type=float, help="seconds a change may take before the run fails")
    parser.add_argument("--files", default=100000, type=int)
    parser.add_argument("--folders", default=10000, type=int)
    parser.add_argument("--burst", default=10000, type=int)
    parser.add_argument("--skip-team", action="store_true")
    parser.add_argument("--skip-deep", action="store_true")
    parser.add_argument("--replica", action="store_true",
                        help="a machine on a master and one on its replica, instead of the rows above")
    arguments = parser.parse_args()
    build = os.path.abspath(arguments.build)
    top = tempfile.mkdtemp(prefix="korvane-sync-bench-")
    try:
        if arguments.replica:
            print_replica(arguments, *replica_rows(arguments, top, build))
            return
        if not arguments.skip_team:
            rows = team_rows(arguments, top, build)
            print(f"changes per N: {arguments.changes}; quiet window: {arguments.quiet:.0f} s")
            print("| N | p50 | p95 | idle CPU (max, mean, % of a core) | RSS max | server req/s | busiest machine req/s |")
            print("|---|-----|-----|-----------------------------------|---------|--------------|-----------------------|")
            for count, p50, p95, quiet in rows:
                print(f"| {count} | {p50:.2f} s | {p95:.2f} s | {100 * quiet['cpu_max']:.3f}, "
                      f"{100 * quiet['cpu_mean']:.3f} | {quiet['rss_max']:.1f} MiB | {quiet['requests']:.2f} | "
                      f"{quiet['busiest']:.2f} |")
            print("targets: p50 <= 1.5 s, p95 <= 3 s at N = 20; idle CPU < 0.1 %; <= 1 request/s per machine")
        if not arguments.skip_deep:
            deep = deep_rows(arguments, top, build)
            plain = deep["svn_import"] + deep["svn_checkout"]
            mine = deep["share"] + deep["checkout"]
            print(f"deep tree: {arguments.files} files in {arguments.folders} folders")
            print(f"| svn import + checkout | {deep['svn_import']:.2f} + {deep['svn_checkout']:.2f} = {plain:.2f} s |")
            print(f"| share + checkout | {deep['share']:.2f} + {deep['checkout']:.2f} = {mine:.2f} s "
                  f"({mine / plain:.2f}x; target <= 1.2x) |")
            print(f"| daemon RSS in mode 3 | {deep['rss'][0]:.1f}, {deep['rss'][1]:.1f} MiB (target < 200 MB) |")
            print(f"| inotify watches | {deep['watches'][0]}, {deep['watches'][1]} |")
            print(f"| deep change arrival | {seconds(deep['deep_arrival'])} (target <= 3 s) |")
            print(f"| burst of {arguments.burst} files: svn commit | {deep['svn_commit']:.2f} s |")
            print(f"| burst committed by the daemon | {seconds(deep['burst_committed'])} in {deep['burst_commits']} "
                  f"commit(s) (target <= 1.5x svn commit) |")
            print(f"| burst received | {seconds(deep['burst_arrived'])} (target <= 2x that) |")
    finally:
        shutil.rmtree(top, ignore_errors=True)


if __name__ == "__main__":
    main()
