"""The setup program under Wine, in a fresh prefix, as a station's IT deploys it: silently, from a
share with a stand-in port library and stand-ins for schtasks and taskkill beside it; again over
the running Larkmoor (an upgrade, which also repairs); over a Larkmoor whose file is held open; the
quiet uninstall string then setup at once (a repair by a deployment tool); the uninstall; a folder
with "&" and an upgrade without /D=; no port library; a folder users may have filled; a standard
operator account (a user, then a group) and a Startup shortcut the station made.
Usage: setup_test.py <wine runner> <setup.exe> <port library> <larkmoor.exe> <work folder>"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import xml.dom.minidom

from task_definition import check as check_task_definition

runner, setup, library, built_exe, work = sys.argv[1:6]
prefix = os.path.join(work, "prefix")
share = os.path.join(work, "station share")
bare_share = os.path.join(work, "share without a library")
marker = os.path.join(os.path.dirname(library), "marker_program.exe")
env = dict(os.environ, WINEPREFIX=prefix)
uninstall_key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Larkmoor"
time_service_key = r"HKLM\System\CurrentControlSet\Services\W32Time"
tasks = r"C:\windows\system32\tasks"


def wine(*args, check=False):
    # Output through a file: Wine's services and the Larkmoor that setup starts inherit it and
    # outlive the command, so a pipe would not close.
    with tempfile.TemporaryFile("w+", errors="replace") as output:
        result = subprocess.run([runner, *args], env=env, stdout=output, stderr=subprocess.STDOUT,
                                timeout=300, cwd=work)
        output.seek(0)
        result.stdout = output.read()
    assert not check or result.returncode == 0, f"{args}: {result.returncode} {result.stdout}"
    return result


def unix(path):
    """The file behind a path on the prefix's drive C:, whose names Wine matches in any case."""
    assert path[:3].upper() == "C:\\", path
    found = os.path.join(prefix, "drive_c")
    for name in path[3:].split("\\"):
        names = os.listdir(found) if os.path.isdir(found) else []
        found = os.path.join(found, next((n for n in names if n.lower() == name.lower()), name))
    return found


def reg_value(key, name):
    result = wine("reg", "query", key, "/v", name)
    for line in result.stdout.splitlines():
        fields = line.split(None, 2)
        if len(fields) == 3 and fields[0] == name:
            return fields[2]
    return None


def running():
    """Process ids of the Larkmoor programs that run in this prefix (not their port hosts)."""
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as e, open(f"/proc/{pid}/cmdline", "rb") as c:
                ours = f"WINEPREFIX={prefix}".encode() in e.read().split(b"\0")
                arguments = c.read().split(b"\0")
                program = arguments[0].decode(errors="replace")
        except OSError:
            continue
        if ours and program.lower().endswith("\\larkmoor.exe") and b"--port-host" not in arguments:
            pids.append(int(pid))
    return pids


def log(name="larkmoor-setup.log"):
    """Setup's log, to which each run appends, or the uninstaller's."""
    return "".join(open(found, errors="replace").read() for found in
                   glob.glob(os.path.join(prefix, "drive_c/users/*/Temp", name)))


def run(command_line):
    """Runs a command line as Windows takes it, unquoted (/D= and _?= must not be quoted), the
    way a deployment tool does; returns its exit code."""
    batch = os.path.join(work, "run.bat")
    with open(batch, "w") as file:
        file.write(f"@{command_line.replace('&', '^&')}\r\n@exit /b %errorlevel%\r\n")
    return wine("cmd", "/c", "Z:" + batch.replace("/", "\\"))


def run_setup(*options, code=0, folder=share):
    """Runs setup silently from the share; returns what it logged."""
    before = len(log())
    program = "Z:" + os.path.join(folder, os.path.basename(setup)).replace("/", "\\")
    result = run(" ".join([f'"{program}"', "/S", *options]))
    logged = log()[before:]
    assert result.returncode == code, f"setup {options}: exit {result.returncode}\n{logged}"
    return logged


def wait_for_service(name):
    """Windows starts its RPC and Task Scheduler services at boot; a fresh prefix starts them late."""
    for _ in range(60):
        if "RUNNING" in wine("sc", "query", name).stdout:
            return
        wine("sc", "start", name)
        time.sleep(1)
    raise AssertionError(f"the service {name} did not start")


def start():
    shutil.rmtree(work, ignore_errors=True)
    for folder in (share, bare_share):
        os.makedirs(folder)
        shutil.copy(setup, folder)
    shutil.copy(library, share)
    for tool in ("schtasks.exe", "taskkill.exe"):  # would write "ran" where they are run
        shutil.copy(marker, os.path.join(share, tool))
    wine("wineboot", "--init")
    for service in ("RpcSs", "Schedule"):
        wait_for_service(service)
    # Windows Time as a service Wine lacks, played by Wine's update service: running, and set to
    # start automatically, as Windows ships it.
    wine("sc", "create", "W32Time", "binpath=", r"C:\windows\system32\wuauserv.exe", "start=", "auto",
         check=True)
    wait_for_service("W32Time")


def default_folder():
    # The 32-bit Program Files folder, where the 32-bit program belongs whichever stub setup was
    # made with: "(x86)" on 64-bit Windows.
    x86_on_64 = os.path.isdir(unix(r"C:\Program Files (x86)"))
    return r"C:\Program Files (x86)\Larkmoor" if x86_on_64 else r"C:\Program Files\Larkmoor"


def installed(wanted_folder=None):
    """Checks what setup leaves: the program, the library and the task; returns the folder."""
    folder = reg_value(uninstall_key, "InstallLocation")
    assert folder == (wanted_folder or default_folder()), folder
    for name, wanted in [("DisplayName", "Larkmoor"), ("DisplayVersion", "1.0.0"),
                         ("VersionMajor", "0x1"), ("VersionMinor", "0x0"),
                         ("Publisher", "Larkmoor"), ("DisplayIcon", folder + r"\larkmoor.exe,0")]:
        assert reg_value(uninstall_key, name) == wanted, f"{name}: {reg_value(uninstall_key, name)}"
    assert int(reg_value(uninstall_key, "EstimatedSize"), 16) >= os.path.getsize(built_exe) // 1024
    assert os.path.isfile(unix(reg_value(uninstall_key, "UninstallString").strip('"')))
    for source, name in [(built_exe, "larkmoor.exe"), (library, "ntport.dll")]:
        with open(source, "rb") as wanted, open(unix(folder + "\\" + name), "rb") as got:
            assert wanted.read() == got.read(), f"{name} in {folder} is not the one built"
    # The definition setup handed the Task Scheduler, which Wine keeps only in part.
    with open(unix(folder + r"\larkmoor-task.xml"), "rb") as definition:
        command = check_task_definition(definition.read())
    assert command == f'"{folder}\\larkmoor.exe"', f"the task starts {command}"
    assert os.path.isfile(unix(r"C:\windows\system32\tasks\Larkmoor")), "no task registered"
    assert os.path.isfile(unix(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Larkmoor.lnk"))
    assert reg_value(time_service_key, "Start") == "0x4", "Windows Time is not disabled"
    return folder


def operator_set_up(folder, account, sid, kind):
    """The operator account's right, recorded as granted by setup (Wine's LSA keeps no rights to
    read back: LsaAddAccountRights succeeds, LsaEnumerateAccountRights finds none), and its logon
    task: that account as the principal, with its own rights, starting the installed program."""
    assert reg_value(uninstall_key, "Operator") == account
    assert reg_value(uninstall_key, "OperatorSid") == sid
    assert reg_value(uninstall_key, "OperatorGranted") == "0x1", "the grant is not recorded"
    with open(unix(folder + r"\larkmoor-operator-task.xml"), "rb") as definition:
        raw = definition.read()
    task = xml.dom.minidom.parseString(raw)
    assert "<!--" not in raw.decode("utf-16"), "it keeps the administrators' task's comments"

    def values(parent, name):
        node = task.getElementsByTagName(parent)[0]
        return [e.firstChild.data for e in node.getElementsByTagName(name)]

    assert values("Principal", kind) == [sid], task.toxml()
    assert values("Principal", "RunLevel") == ["LeastPrivilege"]
    assert values("LogonTrigger", "UserId") == ([sid] if kind == "UserId" else [])
    trigger = task.getElementsByTagName("LogonTrigger")[0]  # the schema's order: UserId after Enabled
    assert [e.tagName for e in trigger.childNodes if e.nodeType == e.ELEMENT_NODE][-1] == \
        ("UserId" if kind == "UserId" else "Enabled")
    assert values("Exec", "Command") == [f'"{folder}\\larkmoor.exe"']
    assert os.path.isfile(unix(tasks + r"\Larkmoor operator")), "no operator task registered"


def one_running(other_than=()):
    for _ in range(40):
        pids = running()
        if len(pids) == 1 and pids[0] not in other_than:
            return pids[0]
        time.sleep(0.25)
    raise AssertionError(f"running: {pids}, before: {list(other_than)}")


def removed(folder):
    assert running() == [], "Larkmoor still runs"
    assert not os.path.exists(unix(folder)), os.listdir(unix(folder))
    assert not os.path.exists(unix(tasks + r"\Larkmoor")), "the task is left"
    assert not os.path.exists(unix(tasks + r"\Larkmoor operator")), "the operator's task is left"
    assert reg_value(uninstall_key, "DisplayName") is None, "the Add/Remove Programs entry is left"
    assert not os.path.exists(unix(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Larkmoor.lnk"))
    assert reg_value(time_service_key, "Start") == "0x2", "Windows Time is not given back"
    assert "RUNNING" in wine("sc", "query", "W32Time").stdout, "Windows Time ran before: not again"


def main():
    start()
    run_setup()
    folder = installed()
    first = one_running()
    for where in (share, work, unix(folder)):  # setup's folder, its current one, the installed one
        assert not os.path.exists(os.path.join(where, "ran")), f"a stand-in was run in {where}"

    # Over the running Larkmoor, with a file lost and a Startup shortcut the station made, for a
    # standard operator (the prefix's user): the running one closes when asked, the files are put
    # back, the new one is the only one running, the operator is set up and the shortcut stays.
    os.remove(unix(folder + r"\README.txt"))
    startup = unix(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Startup")
    os.makedirs(startup, exist_ok=True)
    station_shortcut = os.path.join(startup, "larkmoor.exe - Shortcut.lnk")
    open(station_shortcut, "wb").close()
    user = wine("cmd", "/c", "echo %USERNAME%", check=True).stdout.split()[-1]
    user_sid = "S-1-5-21-0-0-0-1000"  # Wine's one user
    logged = run_setup("/OPERATOR=" + user)
    closed = re.search(r"It closed within (\d+) ms", logged)  # not ended by force
    assert closed, logged
    print(f"the running Larkmoor closed {closed[1]} ms after setup sent WM_CLOSE")
    assert installed() == folder
    assert os.path.isfile(unix(folder + r"\README.txt")), "the reinstall did not repair"
    assert os.path.exists(station_shortcut), "setup removed a Startup shortcut the station made"
    operator_set_up(folder, user, user_sid, "UserId")
    second = one_running(other_than=[first])

    # Over a Larkmoor whose file another program holds open: nothing installed, and the Larkmoor
    # that was running is started again.
    holder = subprocess.Popen([runner, marker, folder + r"\larkmoor.exe"], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        logged = run_setup(code=2)
        assert "running again" in logged, logged
        one_running(other_than=[second])
    finally:
        holder.kill()
        holder.wait()

    # A deployment tool's repair: the quiet uninstall string, waited for, then setup at once.
    assert run(reg_value(uninstall_key, "QuietUninstallString")).returncode == 0
    removed(folder)
    assert f"Gave back the right to change the system time that setup had granted to {user}" in \
        log("larkmoor-uninstall.log")
    assert os.path.exists(station_shortcut), "the uninstaller removed the station's shortcut"
    run_setup()
    assert installed() == folder and reg_value(uninstall_key, "Operator") is None
    one_running()
    run_setup("/UNINSTALL")
    removed(folder)

    # A folder with "&" and spaces, from a share without a port library, for the operators' group;
    # then an upgrade without /D= or /OPERATOR=, which goes into it and keeps the group.
    odd = r"C:\Program Files\R&D Larkmoor"
    assert "No port library" in run_setup('/OPERATOR="Users"', "/D=" + odd, code=5, folder=bare_share)
    shutil.copy(library, unix(odd + r"\ntport.dll"))
    run_setup()
    assert installed(odd) == odd and not os.path.exists(unix(default_folder()))
    operator_set_up(odd, "Users", "S-1-5-32-545", "GroupId")
    # No operator any more, for a group that held the right before setup (as setup records it on
    # Windows): its task goes, the right stays.
    wine("reg", "delete", uninstall_key, "/v", "OperatorGranted", "/f", check=True)
    logged = run_setup("/OPERATOR=")
    assert "of Users as it was" in logged and "Gave back" not in logged, logged
    assert reg_value(uninstall_key, "Operator") is None
    assert not os.path.exists(unix(tasks + r"\Larkmoor operator")), "the operator's task is left"
    run_setup("/UNINSTALL")
    removed(odd)

    # An operator account that does not exist.
    assert "is not known" in run_setup("/OPERATOR=nobody-here", "/NOSTART", code=6)
    run_setup("/UNINSTALL")

    # A folder that was there before, outside Program Files, which any user may have filled.
    os.makedirs(unix(r"C:\Larkmoor"))
    assert "nothing was installed" in run_setup(r"/D=C:\Larkmoor", code=2)
    assert os.listdir(unix(r"C:\Larkmoor")) == [] and running() == []


if __name__ == "__main__":
    # A 32-bit setup needs 32-bit Wine, which a kernel that runs no 32-bit programs cannot start.
    loader = open(runner).read().split('WINELOADER="')[1].split('"')[0]
    if not os.access(loader, os.X_OK):
        print(f"{sys.argv[0]}: Skipped\n{setup} needs {loader}, which this machine lacks (its kernel"
              " runs no 32-bit programs); the x86-64 build's setup runs under wine64 instead")
        sys.exit(77)
    try:
        main()
    finally:
        subprocess.run(["wineserver", "-k"], env=env, check=False)
    print("setup, upgrades, repair and uninstall: as expected")
