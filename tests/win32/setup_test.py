"""The setup program under Wine, in a fresh prefix, as a station deploys it: silently, with a
stand-in port library beside it on a share; then silently again over the running Larkmoor (an
upgrade, which also repairs), then the silent uninstall.
Usage: setup_test.py <wine runner> <setup.exe> <port library> <larkmoor.exe> <work folder>"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

from task_definition import check as check_task_definition

runner, setup, library, built_exe, work = sys.argv[1:6]
prefix = os.path.join(work, "prefix")
share = os.path.join(work, "station share")
env = dict(os.environ, WINEPREFIX=prefix)
uninstall_key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Larkmoor"
time_service_key = r"HKLM\System\CurrentControlSet\Services\W32Time"


def wine(*args, check=False):
    # Output through a file: Wine's services and the Larkmoor that setup starts inherit it and
    # outlive the command, so a pipe would not close.
    with tempfile.TemporaryFile("w+", errors="replace") as output:
        result = subprocess.run([runner, *args], env=env, stdout=output, stderr=subprocess.STDOUT,
                                timeout=300)
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


def run_setup(*options):
    result = wine(os.path.join(share, os.path.basename(setup)), "/S", *options)
    logs = glob.glob(os.path.join(prefix, "drive_c/users/*/Temp/larkmoor-*.log"))
    assert result.returncode == 0, f"setup {options}: exit {result.returncode}\n" + "".join(
        open(log, errors="replace").read() for log in logs)


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
    os.makedirs(share)
    shutil.copy(setup, share)
    shutil.copy(library, share)
    wine("wineboot", "--init")
    for service in ("RpcSs", "Schedule"):
        wait_for_service(service)
    # Windows Time as a service Wine lacks: set to start automatically, as Windows ships it.
    wine("sc", "create", "W32Time", "binpath=", r"C:\windows\system32\svchost.exe", "start=", "auto",
         check=True)


def installed():
    """Checks what setup leaves: the program, the library and the task; returns the folder."""
    folder = reg_value(uninstall_key, "InstallLocation")
    # The 32-bit Program Files folder: "(x86)" where a 32-bit setup runs on 64-bit Windows.
    x86_on_64 = (open(setup, "rb").read(4096).find(b"PE\0\0L\x01") >= 0 and
                 os.path.isdir(unix(r"C:\Program Files (x86)")))
    assert folder == (r"C:\Program Files (x86)\Larkmoor" if x86_on_64 else
                      r"C:\Program Files\Larkmoor"), folder
    for name, wanted in [("DisplayName", "Larkmoor"), ("DisplayVersion", "1.00"),
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


def one_running(other_than=()):
    for _ in range(40):
        pids = running()
        if len(pids) == 1 and pids[0] not in other_than:
            return pids[0]
        time.sleep(0.25)
    raise AssertionError(f"running: {pids}, before: {list(other_than)}")


def main():
    start()
    run_setup()
    folder = installed()
    first = one_running()

    # Over the running Larkmoor, with a file lost and an old Startup shortcut: the running one is
    # ended, the files are put back, and the new one is the only one running.
    os.remove(unix(folder + r"\README.txt"))
    startup = unix(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Startup")
    os.makedirs(startup, exist_ok=True)
    old_shortcut = os.path.join(startup, "larkmoor.exe - Shortcut.lnk")
    open(old_shortcut, "wb").close()
    run_setup()
    assert installed() == folder
    assert os.path.isfile(unix(folder + r"\README.txt")), "the reinstall did not repair"
    assert not os.path.exists(old_shortcut), "an old Startup shortcut is left"
    one_running(other_than=[first])

    run_setup("/UNINSTALL")
    assert running() == [], "Larkmoor still runs"
    assert not os.path.exists(unix(folder)), os.listdir(unix(folder))
    assert not os.path.exists(unix(r"C:\windows\system32\tasks\Larkmoor")), "the task is left"
    assert reg_value(uninstall_key, "DisplayName") is None, "the Add/Remove Programs entry is left"
    assert not os.path.exists(unix(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Larkmoor.lnk"))
    assert reg_value(time_service_key, "Start") == "0x2", "Windows Time is not given back"


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
    print("setup, upgrade over the running program, and uninstall: as expected")
