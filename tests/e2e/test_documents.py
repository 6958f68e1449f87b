"""Open and Save through the File menu and the file dialogs: bytes, remembered paths, failures."""

import os
import shutil
import stat
import subprocess
import tempfile
import unittest
from pathlib import Path

import harness
from harness import DisplayTest

# (what, the file's bytes, the bytes Save writes after Open) in a UTF-8 locale, where no byte leads
# a two-byte character.
ROUND_TRIPS = [
    ("LF", b"one\ntwo\n", b"one\r\ntwo\r\n"),
    ("CR, ending in a lone CR", b"one\rtwo\r", b"one\r\ntwo\r\n"),
    ("CR LF", b"one\r\ntwo\r\n", b"one\r\ntwo\r\n"),
    ("mixed: LF CR and CR CR LF are two breaks each, the last line has none",
     b"a\nb\rc\r\nd\n\re\r\r\nf", b"a\r\nb\r\nc\r\nd\r\n\r\ne\r\n\r\nf"),
    ("bytes that do not decode",
     b"\x80\xff\xc3\x28 caf\xc3\xa9 \xed\xa0\x80 \xf4\x90\x80\x80\r\nend \xe3\x81",
     b"\x80\xff\xc3\x28 caf\xc3\xa9 \xed\xa0\x80 \xf4\x90\x80\x80\r\nend \xe3\x81"),
    ("characters a text widget would change, and control characters",
     b"nbsp\xc2\xa0 ls\xe2\x80\xa8 ps\xe2\x80\xa9 frame\xef\xb7\x90\xef\xb7\x91 \x01\x1b\x7f\ttab",
     b"nbsp\xc2\xa0 ls\xe2\x80\xa8 ps\xe2\x80\xa9 frame\xef\xb7\x90\xef\xb7\x91 \x01\x1b\x7f\ttab"),
    ("a zero byte ends the text", b"before\r\nzero\x00after\n", b"before\r\nzero"),
    ("a byte-order mark is text", b"\xef\xbb\xbfbom\nline", b"\xef\xbb\xbfbom\r\nline"),
    ("an empty file empties the text", b"", b""),
]

SHIFT_JIS = "ja_JP.SJIS"

# In code page 932 a lead byte takes the next byte with it, LF and 0x5C included.
SJIS_FILE = (
    "日本語のテキスト".encode("cp932") + b"\n"
    + b"\x82\n" + b"x\n"                                   # a lead byte and LF: one character, no break
    + "表示ソ".encode("cp932") + b" C:\\dir\\file ~\r"     # trail bytes 0x5C; lone 0x5C and 0x7E; lone CR
    + b"\xb1\xb2\xb3\r\n"                                   # one-byte katakana
    + b"\x87\x40\x87\x9a\xed\x40\xfa\x40\xfb\xfc\r\n"       # NEC and IBM extensions, duplicates included
    + b"\x80\xa0\xfd\xfe\xff "                              # bytes that do not decode
    + b"\x82"                                               # a lead byte that ends the file
)
SJIS_SAVED = (
    "日本語のテキスト".encode("cp932") + b"\r\n"
    + b"\x82\n" + b"x\r\n"
    + "表示ソ".encode("cp932") + b" C:\\dir\\file ~\r\n"
    + b"\xb1\xb2\xb3\r\n"
    + b"\x87\x40\x87\x9a\xed\x40\xfa\x40\xfb\xfc\r\n"
    + b"\x80\xa0\xfd\xfe\xff "
    + b"\x82"
)


class RoundTrips(DisplayTest):

    def test_open_then_save_writes_the_normalised_bytes_exactly(self):
        program = self.start()
        for number, (what, content, saved) in enumerate(ROUND_TRIPS):
            with self.subTest(what):
                source = program.files / f"source-{number}.txt"
                source.write_bytes(content)
                program.open(source)
                target = program.files / f"saved-{number}.txt"
                program.save(target)
                self.assertFileBytes(target, saved, program)
                self.assertEqual(source.read_bytes(), content, "Open leaves the file as it was")
        self.quit(program)


class DialogPaths(DisplayTest):

    def test_each_dialog_offers_its_last_path_and_cancel_changes_nothing(self):
        program = self.start()
        first = program.files / "first.txt"
        program.type("one")
        program.save(first)
        self.assertFileBytes(first, b"one", program)

        # A second Save offers the first path: Enter alone rewrites that file.
        program.type(" two")
        program.menu("s")
        program.take_offer("Save As", "first.txt")
        self.assertFileBytes(first, b"one two", program)

        # Cancel in either dialog, even with a name typed, touches neither the text, nor a file, nor
        # the path offered next.
        program.type(" three")
        program.menu("s")
        program.cancel("Save As", program.files / "no-folder" / "cancelled.txt")
        program.menu("o")
        program.cancel("Open", program.files / "no-folder" / "cancelled.txt")
        self.assertEqual(first.read_bytes(), b"one two")
        self.assertEqual(sorted(os.listdir(program.files)), ["first.txt"])
        program.menu("s")
        program.take_offer("Save As", "first.txt")
        self.assertFileBytes(first, b"one two three", program)

        # The two dialogs remember apart: opening a file does not preset Save, and Open offers its own.
        other = program.files / "other.txt"
        other.write_bytes(b"other\n")
        program.open(other)
        program.menu("s")
        program.take_offer("Save As", "first.txt")
        self.assertFileBytes(first, b"other\r\n", program)
        self.assertEqual(other.read_bytes(), b"other\n")
        other.write_bytes(b"changed\n")
        program.menu("o")
        program.take_offer("Open", "other.txt")
        program.menu("s")
        program.take_offer("Save As", "first.txt")
        self.assertFileBytes(first, b"changed\r\n", program)
        self.quit(program)


class Failures(DisplayTest):

    def fails_with(self, program, text):
        box = program.error_box()
        self.assertEqual(len(program.windows("DIALOG")), 1, "one error box")
        program.assert_box_text(box, text)
        program.dismiss(box)

    def test_a_failed_command_shows_one_error_box_and_the_program_goes_on(self):
        program = self.start()
        program.type("kept")
        files = program.files

        missing = files / "missing.txt"
        program.open(missing)
        self.fails_with(program, f"ファイル {missing} は開けません.")
        # The dialog kept the path that failed: Enter alone tries it again.
        program.menu("o")
        program.take_offer("Open", "missing.txt")
        self.fails_with(program, f"ファイル {missing} は開けません.")

        nowhere = files / "no-such-folder" / "new.txt"
        program.save(nowhere)
        self.fails_with(program, f"ファイル {nowhere} を作成できません.")
        self.assertFalse(nowhere.parent.exists())

        # Read-only holds for root too.
        read_only = files / "read-only.txt"
        read_only.write_bytes(b"old\r\n")
        read_only.chmod(0o444)
        program.save(read_only)
        self.fails_with(program, f"ファイル {read_only} を作成できません.")
        self.assertEqual(read_only.read_bytes(), b"old\r\n")
        self.assertEqual(stat.S_IMODE(read_only.stat().st_mode), 0o444)
        self.assertEqual(sorted(os.listdir(files)), ["read-only.txt"], "no file is left behind")

        # The text area still takes input, and its text came through unchanged.
        program.type(" and more")
        after = files / "after.txt"
        program.save(after)
        self.assertFileBytes(after, b"kept and more", program)
        self.quit(program)


def unmount(folder):
    if subprocess.run(["umount", str(folder)], capture_output=True).returncode != 0:
        subprocess.run(["umount", "--lazy", str(folder)], capture_output=True)


class FullDisk(DisplayTest):

    @unittest.skipUnless(os.geteuid() == 0, "mounting a small file system takes root")
    def test_a_write_that_runs_out_of_space_keeps_the_old_file(self):
        folder = Path(tempfile.mkdtemp(prefix="kestrane-e2e-disk-"))
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        disk = folder / "disk"
        disk.mkdir()
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k,mode=0755", "kestrane-e2e", str(disk)],
                                 capture_output=True, text=True)
        if mounted.returncode != 0:
            self.skipTest(f"cannot mount a small file system here: {mounted.stderr.strip()}")
        self.addCleanup(unmount, disk)

        document = disk / "document.txt"
        document.write_bytes(b"old text\r\n")
        program = self.start()
        large = program.files / "large.txt"
        large.write_bytes(b"a line of text that fills the small disk many times over\r\n" * 4096)
        program.open(large)
        program.save(document)
        box = program.error_box()
        program.assert_box_text(box, "ストリームへの書き込みエラー.")
        program.dismiss(box)
        self.assertEqual(document.read_bytes(), b"old text\r\n")
        self.assertEqual(os.listdir(disk), ["document.txt"], "no temporary file is left behind")

        # Nothing of the text was lost: it is saved whole elsewhere.
        elsewhere = program.files / "elsewhere.txt"
        program.save(elsewhere)
        self.assertFileBytes(elsewhere, large.read_bytes(), program)
        self.quit(program)


class ShiftJIS(DisplayTest):

    @classmethod
    def setUpClass(cls):
        locales = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower().split()
        if SHIFT_JIS.lower() not in locales:
            raise AssertionError(f"the locale {SHIFT_JIS} is missing: scripts/install-deps.sh generates it")
        super().setUpClass()

    def test_documents_typing_and_messages_in_code_page_932(self):
        program = self.start(locale=SHIFT_JIS)
        files = program.files

        source = files / "sjis.txt"
        source.write_bytes(SJIS_FILE)
        program.open(source)
        saved = files / "sjis-saved.txt"
        program.save(saved)
        self.assertFileBytes(saved, SJIS_SAVED, program)

        # Typed Japanese is saved in the code page, under a name in the code page.
        empty = files / "empty.txt"
        empty.write_bytes(b"")
        program.open(empty)
        program.type("日本語テキスト")
        program.key("Return")
        program.save(files / "保存.txt")
        self.assertFileBytes(os.fsencode(files) + b"/" + "保存.txt".encode("cp932"),
                             "日本語テキスト\r\n".encode("cp932"), program)

        # The message is made in the code page and shown right, the path in it too.
        missing = files / "存在しない.txt"
        program.open(missing)
        box = program.error_box()
        program.assert_box_text(box, f"ファイル {missing} は開けません.")
        program.dismiss(box)
        self.quit(program)


if __name__ == "__main__":
    harness.main()
