"""Reads a valgrind memcheck log and fails when an error or a definite leak
arises in one of zalmor's modules: a report whose innermost frames (where the
error happened, or what allocated the lost block) are ours. The interpreter,
NumPy, SciPy and the loader have reports of their own that are not ours to
judge, even when our start-up code is further up their stacks."""

import re
import sys

OURS = re.compile(r"zalmor/(ops|utils)/\w+\.cpython|zalmor::")


def records(text):
    """Each report: its first line and its stack frames."""
    block = []
    for line in text.splitlines():
        body = re.sub(r"^==\d+== ?", "", line)
        if not body.strip():
            if block:
                yield block
            block = []
        else:
            block.append(body)
    if block:
        yield block


def main(path):
    text = open(path, encoding="utf-8", errors="replace").read()
    bad = []
    for block in records(text):
        head = block[0]
        is_leak = "definitely lost" in head
        is_error = re.match(r"(Invalid (read|write|free)|Conditional jump|Use of uninitialised|"
                            r"Mismatched free|Source and destination overlap)", head)
        innermost = block[1:5] if is_leak else block[1:3]
        if (is_leak or is_error) and any(OURS.search(frame) for frame in innermost):
            bad.append("\n".join(block))
    summary = re.findall(r"ERROR SUMMARY: .*", text)
    print(summary[-1] if summary else "no summary in the log")
    if bad:
        print(f"{len(bad)} report(s) from zalmor's modules:\n")
        print("\n\n".join(bad[:20]))
        return 1
    print("no errors or definite leaks from zalmor's modules")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
