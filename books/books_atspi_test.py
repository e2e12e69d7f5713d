#!/usr/bin/python3
"""The second window driven as a screen reader drives it, over AT-SPI.

  books_atspi_test.py PENNACLE_BOOKS KDBTOOL

Run inside an X server and a session bus (xvfb-run -a dbus-run-session -- ...). A ledger of thirty
bills is made with kdbtool; the window is found by its accessible names alone: the search box
("搜索") narrows the one bill table ("账单"), whose rows are the bills shown, and the footer ("合计")
counts them; a bill kdbtool adds while the window is open shows up; a bill deleted through the
menu goes to the recycle bin ("回收站") and comes back with 撤销.
"""
import os
import subprocess
import sys
import tempfile
import time
import unittest

import pyatspi

BOOKS = KDBTOOL = ""
WAIT_S = 20  # generous: the sanitizer builds are slow; the time taken is printed, never asserted


def find(node, role, name, depth=0, prefix=False):
    """The first descendant with this role and accessible name, or a name beginning so (depth first)."""
    if node is None or depth > 25:
        return None
    try:
        if node.getRole() == role and (node.name.startswith(name) if prefix else node.name == name):
            return node
        children = list(node)
    except Exception:  # a node that went away while we looked
        return None
    for child in children:
        hit = find(child, role, name, depth + 1, prefix)
        if hit is not None:
            return hit
    return None


def wait_for(what, probe, timeout=WAIT_S):
    """Polls probe() until it returns a true value; fails naming what was awaited."""
    start = time.monotonic()
    while time.monotonic() - start < timeout:
        try:
            value = probe()
        except AssertionError:
            raise
        except Exception:
            value = None
        if value:
            return value, time.monotonic() - start
        time.sleep(0.05)
    raise AssertionError("waited %d s for %s" % (timeout, what))


def csv(path, rows):
    with open(path, "w", encoding="utf-8") as f:
        f.write("类型,金额,付款方式,时间,备注\n")
        for r in rows:
            f.write(",".join(r) + "\n")


class BooksWindowOverAtSpi(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.home = self.tmp.name
        self.ledger = os.path.join(self.home, "data.kdb")
        subprocess.run([KDBTOOL, "create", self.ledger], check=True, stdout=subprocess.DEVNULL)
        rows = [("支出", "%d.50" % (i + 1), "微信", "2026-11-%02d 12:00:00" % (i % 28 + 1),
                 ("美团 · 外卖 %d" % i) if i < 10 else ("京东 · 日用品 %d" % i)) for i in range(30)]
        csv(os.path.join(self.home, "first.csv"), rows)
        subprocess.run([KDBTOOL, "import", self.ledger, os.path.join(self.home, "first.csv")], check=True,
                       stdout=subprocess.DEVNULL)
        env = dict(os.environ, PENNACLE_HOME=self.home, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   XDG_CONFIG_HOME=os.path.join(self.home, "config"), LANG="C.UTF-8")
        env.pop("QT_QPA_PLATFORM", None)
        self.window = subprocess.Popen([BOOKS], env=env)

        def started():
            if self.window.poll() is not None:
                raise AssertionError("pennacle-books ended with status %d" % self.window.returncode)
            return self.application()

        self.app, _ = wait_for("the program on the accessibility bus", started)
        self.frame, _ = wait_for("the window", lambda: find(self.app, pyatspi.ROLE_FRAME, "Pennacle 账本"))

    def tearDown(self):
        self.window.terminate()
        self.window.wait(30)
        self.tmp.cleanup()

    def application(self):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "pennacle-books":
                return app
        return None

    def rows(self, name):
        table = find(self.frame, pyatspi.ROLE_TABLE, name)
        return table.queryTable().nRows if table is not None else -1

    def click_menu(self, name):
        """Clicks the menu item whose name begins with `name` (撤销 names what it undoes)."""
        item = find(self.frame, pyatspi.ROLE_MENU_ITEM, name, prefix=True)
        self.assertIsNotNone(item, name)
        item.queryAction().doAction(0)

    def test_search_follow_delete_and_undo(self):
        _, took = wait_for("thirty bills in the table", lambda: self.rows("账单") == 30)
        print("first rows after %.2f s" % took)
        search = find(self.frame, pyatspi.ROLE_TEXT, "搜索")
        self.assertIsNotNone(search, "the search box is named 搜索")
        search.queryEditableText().setTextContents("美团")
        wait_for("the ten 美团 bills", lambda: self.rows("账单") == 10)
        footer = find(self.frame, pyatspi.ROLE_LABEL, "合计")
        self.assertIsNotNone(footer, "the footer is named 合计")
        self.assertIn("共 10 笔", footer.description)
        search.queryEditableText().setTextContents("")
        wait_for("every bill again", lambda: self.rows("账单") == 30)

        # kdbtool adds a bill while the window is open: it shows without anything being asked.
        csv(os.path.join(self.home, "more.csv"), [("收入", "88.00", "银行卡", "2026-11-30 09:00:00", "奖金")])
        start = time.monotonic()
        subprocess.run([KDBTOOL, "import", self.ledger, os.path.join(self.home, "more.csv")], check=True,
                       stdout=subprocess.DEVNULL)
        wait_for("the bill kdbtool added", lambda: self.rows("账单") == 31)
        print("a bill added by kdbtool showed after %.2f s" % (time.monotonic() - start))

        # The newest bill (the one kdbtool added) is selected, deleted into the bin, and undone.
        table = find(self.frame, pyatspi.ROLE_TABLE, "账单")
        self.assertTrue(table.queryTable().addRowSelection(0))
        self.click_menu("删除账单")
        wait_for("the table without the deleted bill", lambda: self.rows("账单") == 30)
        wait_for("the bill in the recycle bin", lambda: self.rows("回收站") == 1)
        self.click_menu("撤销")
        wait_for("the bill back in the table", lambda: self.rows("账单") == 31)
        wait_for("the recycle bin empty again", lambda: self.rows("回收站") == 0)
        out = subprocess.run([KDBTOOL, "export", self.ledger], check=True, capture_output=True, text=True).stdout
        self.assertIn("奖金", out)


if __name__ == "__main__":
    BOOKS, KDBTOOL = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
