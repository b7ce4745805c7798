"""The demo's window as a screen reader reads it over the AT-SPI bus.

  tree.py dump APP        waits for the details, prints the tree
  tree.py check APP       the same, then checks names, relations, roles and
                          the bars' values; exits 1 on any failure
  tree.py listen          listens for value changes, as a screen reader does,
                          until SIGTERM, and prints how many it heard

APP is the application's name on the bus (its executable's name for Qt).
Runs with Debian's python3 and python3-pyatspi, inside a session bus that
has the accessibility bus and the application on it.
"""

import signal
import sys
import time

import pyatspi
from gi.repository import GLib

WAIT_SECONDS = 15
WATCH_SECONDS = 2.0
# The window announces a bar's change at most every 0.5 s: at most five in
# the watch, where each of its 50 ticks a second would otherwise be one.
MOST_NOTICES = 5

LISTS = ["Serial Number", "LC1 gain", "LC2 gain", "LC3 gain"]
CAPTIONS = ["Device name", "Made by", "Version"]
BARS = ["LC1", "LC2", "LC3"] + ["Input %d" % n for n in range(4, 9)]
BAR_ROLES = {"progress bar", "level bar"}


def find_app(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == name:
            # Each read asks the window, as the names and values change.
            app.setCacheMask(pyatspi.cache.NONE)
            return app
    return None


def walk(node, depth=0):
    yield node, depth
    # A gain list holds 2560 entries; reading each over the bus takes
    # seconds and says nothing about the window.
    if node.getRoleName() == "list" and node.parent.getRoleName() == "combo box":
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def text_of(node):
    try:
        text = node.queryText()
    except NotImplementedError:
        return None
    return text.getText(0, text.characterCount)


def value_of(node):
    try:
        value = node.queryValue()
    except NotImplementedError:
        return None
    return value.currentValue, value.minimumValue, value.maximumValue


def relations_of(node):
    out = []
    for relation in node.getRelationSet():
        kind = pyatspi.relationToString(relation.getRelationType()).lower()
        targets = [relation.getTarget(i) for i in range(relation.getNTargets())]
        out.append((kind.replace(" ", "-"), [t.name for t in targets if t is not None]))
    return out


class Node:
    """What the dump shows and the checks read of one accessible."""

    def __init__(self, acc, depth):
        self.depth = depth
        self.role = acc.getRoleName()
        self.name = acc.name or ""
        self.description = acc.description or ""
        states = acc.getState()
        self.enabled = states.contains(pyatspi.STATE_ENABLED)
        self.sensitive = states.contains(pyatspi.STATE_SENSITIVE)
        self.focusable = states.contains(pyatspi.STATE_FOCUSABLE)
        self.relations = relations_of(acc)
        self.text = text_of(acc)
        self.value = value_of(acc)
        self.children = acc.childCount

    def labelled_by(self):
        return [n for kind, names in self.relations if kind == "labelled-by" for n in names]

    def line(self):
        parts = ["%s%s: %r" % ("  " * self.depth, self.role, self.name)]
        if self.description:
            parts.append("description=%r" % self.description)
        if self.text is not None and self.text != self.name:
            parts.append("text=%r" % self.text)
        if self.role == "list" and self.children:
            parts.append("(%d entries)" % self.children)
        if not self.enabled:
            parts.append("not-enabled")
        if not self.sensitive:
            parts.append("not-sensitive")
        if self.focusable:
            parts.append("focusable")
        for kind, names in self.relations:
            parts.append("%s=%s" % (kind, names))
        if self.value is not None:
            parts.append("value=%g min=%g max=%g" % self.value)
        return " ".join(parts)


def snapshot(app):
    return [Node(acc, depth) for acc, depth in walk(app)]


def shown(node, caption):
    """What a value label says: its text, or its name, or where its name is
    its caption, its description."""
    if node.text is not None:
        return node.text
    return node.description if node.name == caption else node.name


def value_labels(nodes, caption):
    """The labels that a caption names, by relation or as their own name."""
    return [n for n in nodes if n.role == "label" and shown(n, caption) not in ("", caption) and
            (caption in n.labelled_by() or n.name == caption)]


def details_value(nodes, caption):
    """The value a caption names, or else the label after it in the window."""
    for node in value_labels(nodes, caption):
        return shown(node, caption)
    for i, node in enumerate(nodes[:-1]):
        if node.role == "label" and node.name == caption and nodes[i + 1].role == "label":
            return shown(nodes[i + 1], caption)
    return ""


def wait_for_details(app_name):
    deadline = time.monotonic() + WAIT_SECONDS
    app = None
    while time.monotonic() < deadline:
        app = app or find_app(app_name)
        if app is not None:
            nodes = snapshot(app)
            if details_value(nodes, "Device name").strip() not in ("", "Device name"):
                return app, nodes
        time.sleep(0.25)
    if app is None:
        sys.exit("FAIL: %s is not on the accessibility bus after %d s" % (app_name, WAIT_SECONDS))
    for node in snapshot(app):
        print(node.line())
    sys.exit("FAIL: %s showed no device's details within %d s" % (app_name, WAIT_SECONDS))


class Checks:
    def __init__(self):
        self.failures = []

    def expect(self, ok, message):
        if not ok:
            self.failures.append(message)
        return ok


def named(nodes, name, roles):
    return [n for n in nodes if n.name == name and n.role in roles]


def watch_value_notices(seconds):
    """How many value changes each value indicator announces in `seconds`."""
    counts = {}

    def heard(event):
        if event.source is not None and event.source.getRoleName() in BAR_ROLES:
            counts[event.source.name] = counts.get(event.source.name, 0) + 1

    kind = "object:property-change:accessible-value"
    pyatspi.Registry.registerEventListener(heard, kind)
    GLib.timeout_add(int(seconds * 1000), pyatspi.Registry.stop)
    pyatspi.Registry.start()
    pyatspi.Registry.deregisterEventListener(heard, kind)
    return counts


def check(app, nodes):
    c = Checks()
    # Qt on Linux names a combo box after the entry it shows, whatever its
    # accessible name, and relates it to its caption: a screen reader there
    # says the caption from the labelled-by relation, then the entry.
    combos = [n for n in nodes if n.role == "combo box"]
    for caption in LISTS:
        c.expect(len([n for n in combos if caption in n.labelled_by() or n.name == caption]) == 1,
                 "no combo box labelled by or named %r; combo boxes: %r" %
                 (caption, [(n.name, n.labelled_by()) for n in combos]))

    for caption in CAPTIONS:
        labels = value_labels(nodes, caption)
        c.expect(labels, "no label with a value is labelled by or named %r" % caption)
        for label in labels:
            print("%r says %r" % (caption, shown(label, caption).strip()))

    bars = [n for n in nodes if n.role in BAR_ROLES]
    c.expect([n.name for n in bars] == BARS,
             "value indicators are %r, not %r" % ([(n.role, n.name) for n in bars], BARS))
    for bar in bars:
        if not c.expect(bar.value is not None, "%r has no Value interface" % bar.name):
            continue
        current, low, high = bar.value
        c.expect(low == 0 and high == 100, "%r ranges %g..%g, not 0..100" % (bar.name, low, high))
        c.expect(low <= current <= high, "%r reads %g, outside %g..%g" % (bar.name, current, low, high))

    before = {n.name: n.value[0] for n in bars if n.value is not None}
    notices = watch_value_notices(WATCH_SECONDS)
    after = {n.name: n.value[0] for n in snapshot(app) if n.role in BAR_ROLES and n.value is not None}
    moved = sorted(name for name in before if name in after and after[name] != before[name])
    print("over %.1f s: %s" % (WATCH_SECONDS, ", ".join(
        "%s %g -> %g" % (name, before[name], after.get(name, float("nan"))) for name in before)
        or "no bar has a value"))
    c.expect(moved, "no bar's value changed in %.1f s" % WATCH_SECONDS)
    print("value-change notices in %.1f s: %s" % (WATCH_SECONDS, ", ".join(
        "%s %d" % (name, notices.get(name, 0)) for name in BARS)))
    c.expect(any(notices.get(name, 0) for name in moved),
             "no bar that moved (%s) announced its value" % ", ".join(moved))
    for name, count in notices.items():
        c.expect(count <= MOST_NOTICES, "%r announced its value %d times in %.1f s, over %d" %
                 (name, count, WATCH_SECONDS, MOST_NOTICES))

    # The demo's 24-0230 has no input 8: the input mask greys out its caption
    # alone (its frame stays enabled), and its bar says "No input" and is not
    # enabled; no other bar says so.
    captions = {n.name: n for n in nodes if n.role == "label" and n.name in BARS}
    for bar in bars:
        says_absent = "no input" in bar.description.lower() and not bar.enabled
        absent = bar.name in captions and not captions[bar.name].enabled
        print("%s: %s, description %r, %s" % (bar.name, "absent" if absent else "present",
                                               bar.description,
                                               "enabled" if bar.enabled else "not enabled"))
        c.expect(says_absent == absent, "%r is %s but its bar %s" % (
            bar.name, "absent" if absent else "present",
            "says it is absent" if says_absent else "does not say so"))
    c.expect(any(not n.enabled for n in captions.values()),
             "no input's caption is greyed out, where the demo's device has input 8 absent")

    # Debian 13's at-spi2-core names the role "button", Debian 12's
    # "push button".
    c.expect(len(named(nodes, "Restore factory settings", {"push button", "button"})) == 1,
             "no push button named 'Restore factory settings'")
    return c.failures


def listen():
    heard = [0]

    def count(_event):
        heard[0] += 1

    pyatspi.Registry.registerEventListener(count, "object:property-change:accessible-value")
    signal.signal(signal.SIGTERM, lambda *_: pyatspi.Registry.stop())
    print("listening", flush=True)
    pyatspi.Registry.start()
    print("value changes heard: %d" % heard[0], flush=True)
    return 0


def main():
    if sys.argv[1:] == ["listen"]:
        return listen()
    if len(sys.argv) != 3 or sys.argv[1] not in ("dump", "check"):
        sys.exit(__doc__)
    app, nodes = wait_for_details(sys.argv[2])
    for node in nodes:
        print(node.line())
    if sys.argv[1] == "dump":
        return 0
    failures = check(app, nodes)
    sys.stdout.flush()
    for failure in failures:
        print("FAIL: %s" % failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
