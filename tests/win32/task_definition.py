"""The logon task's definition: UTF-16 with a byte order mark, well-formed, with no time limit, a
normal priority, no battery conditions, the group's highest privileges and a second start let run
(to wait for the first). The zip's starts the 32-bit Program Files folder's program: the Task
Scheduler is a 64-bit process on 64-bit Windows, where %ProgramFiles% is the other folder.
Usage: task_definition.py <larkmoor-task.xml>; setup_test.py uses check() on the one setup writes."""
import sys
import xml.dom.minidom


def check(raw):
    """Returns the task's command after checking the rest of the definition."""
    assert raw[:2] == bytes([0xFF, 0xFE]), "no UTF-16 byte order mark"
    task = xml.dom.minidom.parseString(raw)

    def value(name):
        return task.getElementsByTagName(name)[0].firstChild.data

    for name, wanted in [("ExecutionTimeLimit", "PT0S"), ("Priority", "4"),
                         ("GroupId", "S-1-5-32-544"), ("RunLevel", "HighestAvailable"),
                         ("DisallowStartIfOnBatteries", "false"),
                         ("StopIfGoingOnBatteries", "false"),
                         ("MultipleInstancesPolicy", "Parallel")]:
        assert value(name) == wanted, f"{name} is {value(name)}"
    return value("Command")


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as definition:
        command = check(definition.read())
    assert command == r'"%ProgramFiles(x86)%\Larkmoor\larkmoor.exe"', f"the zip's task starts {command}"
