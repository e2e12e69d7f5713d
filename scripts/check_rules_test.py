#!/usr/bin/env python3
"""The layering check (check_rules.py) on small trees made in a temporary directory."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_rules  # noqa: E402


class TreeTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def write(self, path, *lines):
        full = os.path.join(self.root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write("".join(line + "\n" for line in lines))

    def includes(self, path, *targets):
        self.write(path, "// a file", *(f'#include "{t}"' for t in targets))

    def problems(self):
        return check_rules.check_tree(self.root)


class Includes(TreeTest):
    def test_the_allowed_directions_pass(self):
        self.includes("platform/file.cpp", "platform/file.h")
        self.includes("runtime/value.cpp", "platform/gbk.h")
        self.includes("store/open.cpp", "runtime/value.h", "platform/file.h")
        self.includes("ledger/import/bill_import.cpp", "ledger/bill.h", "store/record_store.h")
        self.includes("loader/memory_module.cpp", "loader/pe_format.h", "runtime/outside.h")
        self.includes("ui/window_runtime.cpp", "ui/template/window_template.h", "ui/kinds/list_view.h")
        self.includes("app/main.cpp", "ui/window_runtime.h", "ledger/bill.h", "loader/memory_module.h")
        self.includes("generators/make_carried_data.cpp", "loader/pe_format.h", "ui/skin_format.h",
                      "ui/skin_host.h", "ui/template/window_template.h")
        self.includes("tools/kdbtool.cpp", "ledger/import/bill_import.h", "store/backup.h")
        self.includes("testing/temp_dir.cpp", "testing/temp_dir.h", "runtime/fatal.h")
        self.includes("bench/list_bench.cpp", "app/ledger.h", "testing/temp_dir.h")
        self.includes("fuzz/skin_fuzz.cpp", "ui/kinds/list_view.h")
        self.assertEqual(self.problems(), [])

    def test_an_include_against_the_direction_names_file_line_and_rule(self):
        self.write("store/open.cpp", "#include <string>", "", '#include "ui/window_runtime.h"')
        self.includes("platform/file.cpp", "runtime/value.h")
        self.includes("tools/kdbtool.cpp", "app/ledger.h", "ui/skin_format.h")
        self.assertEqual(self.problems(), [
            'platform/file.cpp:2: platform/ may not include runtime/ ("runtime/value.h")',
            'store/open.cpp:3: store/ may not include ui/ ("ui/window_runtime.h")',
            'tools/kdbtool.cpp:2: tools/ may not include app/ ("app/ledger.h")',
            'tools/kdbtool.cpp:3: tools/ may not include ui/ ("ui/skin_format.h")',
        ])

    def test_the_qt_free_parts_of_ui_use_only_themselves_runtime_and_platform(self):
        self.includes("ui/template/window_template.cpp", "ui/template/byte_stream.h", "ui/window_runtime.h")
        self.includes("ui/skin_format.cpp", "ui/skin_format.h", "platform/utf8.h", "ui/kinds/button.h")
        self.includes("ui/skin_host.h", "ui/skin_engine.h")
        self.assertEqual(self.problems(), [
            'ui/skin_format.cpp:4: ui/skin_format.* may not include ui/ ("ui/kinds/button.h")',
            'ui/skin_host.h:2: ui/skin_host.h may not include ui/ ("ui/skin_engine.h")',
            'ui/template/window_template.cpp:3: ui/template/ may not include ui/ ("ui/window_runtime.h")',
        ])

    def test_generators_reach_into_ui_only_for_the_qt_free_headers(self):
        self.includes("generators/make_main_window.cpp", "ui/kinds/list_view.h", "ui/skin_engine.h",
                      "app/carried_data.h")
        self.assertEqual(self.problems(), [
            'generators/make_main_window.cpp:2: generators/ may not include ui/ ("ui/kinds/list_view.h")',
            'generators/make_main_window.cpp:3: generators/ may not include ui/ ("ui/skin_engine.h")',
            'generators/make_main_window.cpp:4: generators/ may not include app/ ("app/carried_data.h")',
        ])

    def test_a_file_beside_is_resolved_from_its_folder(self):
        self.includes("store/open.cpp", "format.h")
        self.includes("runtime/value.cpp", "../store/format.h")
        self.assertEqual(self.problems(),
                         ['runtime/value.cpp:2: runtime/ may not include store/ ("../store/format.h")'])

    def test_a_folder_without_a_rule_is_reported(self):
        self.includes("web/search.cpp", "ledger/bill.h")
        self.assertEqual(self.problems(), ["web/search.cpp:1: web/ has no include rule in scripts/check_rules.py"])

    def test_the_second_window_uses_the_ledger_but_neither_the_window_runtime_nor_the_first_window(self):
        self.includes("books/bills_page.cpp", "ledger/bill.h", "ui/text_codec.h", "ui/file_follower.h",
                      "charts/chart_builders.h", "ui/window_runtime.h", "app/ledger.h")
        self.includes("app/main.cpp", "books/book_rows.h")
        self.assertEqual(self.problems(), [
            'app/main.cpp:2: app/ may not include books/ ("books/book_rows.h")',
            'books/bills_page.cpp:6: books/ may not include ui/ ("ui/window_runtime.h")',
            'books/bills_page.cpp:7: books/ may not include app/ ("app/ledger.h")',
        ])

    def test_build_and_hidden_folders_are_not_sources(self):
        self.includes("build-clang/ui/main_window_data.cpp", "app/ledger.h")
        self.includes(".git/hooks/x.cpp", "app/ledger.h")
        self.includes("fuzz/corpus_csv/a.cpp", "app/ledger.h")
        self.assertEqual(self.problems(), [])


class TestSupport(TreeTest):
    def test_tests_may_use_testing_and_the_test_support_of_the_folders_they_may_use(self):
        self.includes("ledger/bill_test.cpp", "testing/temp_dir.h", "store/test_support.h")
        self.includes("ledger/import/samples_test.cpp", "ledger/import/export_samples.h")
        self.includes("ledger/import/export_samples.h", "testing/temp_dir.h")
        self.includes("app/ledger_window_test.cpp", "ui/testing/message_box_watcher.h", "app/ledger_test_support.h")
        self.includes("ui/test_support.h", "testing/fatal_capture.h")
        self.assertEqual(self.problems(), [])

    def test_the_program_never_includes_test_support(self):
        self.includes("ledger/bill.cpp", "testing/temp_dir.h", "store/test_support.h", "ledger/xlsx_test_writer.h")
        self.includes("runtime/value.cpp", "runtime/test_support.h")
        self.assertEqual(self.problems(), [
            'ledger/bill.cpp:2: ledger/ may not include test support ("testing/temp_dir.h")',
            'ledger/bill.cpp:3: ledger/ may not include test support ("store/test_support.h")',
            'ledger/bill.cpp:4: ledger/ may not include test support ("ledger/xlsx_test_writer.h")',
            'runtime/value.cpp:2: runtime/ may not include test support ("runtime/test_support.h")',
        ])

    def test_a_test_is_held_to_its_folder_for_everything_else(self):
        self.includes("tools/kdbtool_test.cpp", "app/ledger_test_support.h", "ui/window_runtime.h")
        self.includes("store/open_test.cpp", "ledger/bill.h")
        self.assertEqual(self.problems(), [
            'store/open_test.cpp:2: store/ may not include ledger/ ("ledger/bill.h")',
            'tools/kdbtool_test.cpp:2: tools/ may not include test support ("app/ledger_test_support.h")',
            'tools/kdbtool_test.cpp:3: tools/ may not include ui/ ("ui/window_runtime.h")',
        ])


class Qt(TreeTest):
    def test_qt_headers_only_in_ui_app_bench_and_fuzz(self):
        for path in ("ui/window_runtime.cpp", "app/main.cpp", "bench/list_bench.cpp", "fuzz/f.cpp",
                     "ui/kinds/list_view_test.cpp"):
            self.write(path, "#include <QWidget>", "#include <QtCore/qglobal.h>")
        self.assertEqual(self.problems(), [])

    def test_a_qt_header_below_ui_is_reported(self):
        self.write("store/open.cpp", "#include <string>", "#include <QFile>")
        self.write("ui/template/window_template.cpp", "#  include <QtCore/QByteArray>")
        self.write("ui/skin_format.h", "#include <QColor>")
        self.write("generators/make_main_window.cpp", "#include <QString>")
        self.write("tools/kdbtool_test.cpp", "#include <QTest>")
        self.assertEqual(self.problems(), [
            "generators/make_main_window.cpp:1: generators/ is Qt-free, includes <QString>",
            "store/open.cpp:2: store/ is Qt-free, includes <QFile>",
            "tools/kdbtool_test.cpp:1: tools/ is Qt-free, includes <QTest>",
            "ui/skin_format.h:1: ui/skin_format.* is Qt-free, includes <QColor>",
            "ui/template/window_template.cpp:1: ui/template/ is Qt-free, includes <QtCore/QByteArray>",
        ])


class FileLength(TreeTest):
    def test_a_non_test_source_has_at_most_600_lines(self):
        self.write("store/at_limit.cpp", *["int x;"] * 600)
        self.write("store/over.cpp", *["int x;"] * 601)
        self.write("store/over.h", *["int x;"] * 700)
        self.write("store/test_support.h", *["int x;"] * 601)
        self.write("store/long_test.cpp", *["int x;"] * 900)
        self.assertEqual(self.problems(), [
            "store/over.cpp:601: 601 lines, a non-test source has at most 600",
            "store/over.h:601: 700 lines, a non-test source has at most 600",
            "store/test_support.h:601: 601 lines, a non-test source has at most 600",
        ])


if __name__ == "__main__":
    unittest.main()
