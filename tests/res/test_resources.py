#!/usr/bin/env python3
"""Checks the compiled resources, the generated icon and the two documents.

Compiles res/Kelvaro.rc with windres (the same flags as the build), decodes the
binary .res and compares dialog templates, menu, strings and version block with
what the program's code relies on.  Run from the repository root:
    python3 tests/res/test_resources.py
"""

import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.environ.get("KELVARO_ROOT") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
WINDRES = os.environ.get("WINDRES", "x86_64-w64-mingw32-windres")

WS_VISIBLE, WS_TABSTOP, WS_GROUP = 0x10000000, 0x00010000, 0x00020000
WS_POPUP, WS_CLIPCHILDREN, DS_SETFONT = 0x80000000, 0x02000000, 0x40
WS_CAPTION, WS_BORDER, WS_THICKFRAME = 0x00C00000, 0x00800000, 0x00040000
WS_EX_APPWINDOW, WS_EX_TOOLWINDOW = 0x40000, 0x80
BS_TYPEMASK, BS_OWNERDRAW, BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX = 0xF, 0xB, 0x1, 0x3
SS_TYPEMASK, SS_LEFT, SS_CENTER, SS_ICON = 0x1F, 0x0, 0x1, 0x3
SS_NOPREFIX, SS_NOTIFY, SS_CENTERIMAGE, SS_SUNKEN = 0x80, 0x100, 0x200, 0x1000
ES_AUTOHSCROLL, ES_NUMBER = 0x80, 0x2000
CBS_TYPEMASK, CBS_DROPDOWNLIST, CBS_SORT = 0x3, 0x3, 0x100
LBS_NOTIFY, LBS_SORT, LBS_NOINTEGRALHEIGHT = 0x1, 0x2, 0x100
WS_VSCROLL, WS_HSCROLL = 0x00200000, 0x00100000

BUTTON, EDIT, STATIC, LISTBOX, COMBOBOX = 0x80, 0x81, 0x82, 0x83, 0x85
CLASS_ATOMS = {"BUTTON": BUTTON, "EDIT": EDIT, "STATIC": STATIC, "LISTBOX": LISTBOX,
               "COMBOBOX": COMBOBOX}
FONT = (9, "ＭＳ Ｐゴシック")

# (id, class, text, (x, y, w, h)) in tab order; None for a text checked apart.
ABOUT = [
    (-1, STATIC, 128, (11, 26, 20, 20)),
    (-1, STATIC, "Kelvaro Version 0.34", (40, 19, 119, 8)),
    (-1, STATIC, None, (40, 34, 152, 8)),
    (1, BUTTON, "OK", (178, 16, 50, 14)),
    (1032, STATIC, None, (7, 53, 187, 12)),
    (1033, STATIC, None, (7, 67, 187, 12)),
    (1016, BUTTON, "変更歴", (33, 98, 50, 14)),
    (1017, BUTTON, "使用方法", (130, 98, 50, 14)),
    (1010, STATIC, "ﾊﾞｰｼﾞｮﾝ情報", (0, 0, 234, 8)),
]
MAIN = [
    (1010, STATIC, "Kelvaro", (0, 0, 292, 8)),
    (1018, BUTTON, "・", (304, 0, 14, 14)),
    (-1, STATIC, "IPｱﾄﾞﾚｽ(&I)", (7, 18, 31, 8)),
    (1000, EDIT, "", (40, 15, 136, 14)),
    (-1, STATIC, "：", (178, 18, 8, 8)),
    (1001, EDIT, "", (188, 15, 24, 14)),
    (1002, BUTTON, "かける", (7, 34, 50, 14)),
    (1003, BUTTON, "切る", (60, 34, 50, 14)),
    (-1, STATIC, "自分の名前", (117, 37, 35, 8)),
    (1012, EDIT, "", (156, 34, 79, 14)),
    (1005, BUTTON, "受ける", (7, 56, 50, 14)),
    (1013, STATIC, "呼び出し中", (61, 56, 50, 14)),
    (-1, STATIC, "相手の名前", (117, 59, 35, 8)),
    (1011, STATIC, "from", (156, 56, 79, 14)),
    (1015, COMBOBOX, "", (156, 71, 103, 56)),
    (1016, BUTTON, "登録", (262, 71, 50, 14)),
    (1017, BUTTON, "削除", (262, 86, 50, 14)),
    (1019, BUTTON, "次回起動時にアイコン化(&O)", (7, 86, 96, 10)),
    (1023, STATIC, "暗号化なし", (117, 87, 138, 8)),
    (1024, BUTTON, "確認済みにする", (117, 97, 64, 14)),
    (-1, STATIC, "送信", (7, 105, 15, 8)),
    (1008, LISTBOX, "", (7, 116, 305, 68)),
    (1007, EDIT, "", (7, 182, 305, 14)),
    (-1, STATIC, "受信", (7, 208, 15, 8)),
    (1009, LISTBOX, "", (7, 219, 305, 68)),
    (2, BUTTON, "OFF", (262, 15, 50, 14)),
    (1004, BUTTON, "ﾊﾞｰｼﾞｮﾝ情報", (262, 30, 50, 14)),
    (1, BUTTON, "ENTER", (262, 44, 50, 14)),
]
NAME = [
    (-1, STATIC, "名前", (7, 17, 15, 11)),
    (1012, EDIT, "", (30, 14, 79, 14)),
    (1, BUTTON, "OK", (118, 14, 50, 14)),
    (2, BUTTON, "ｷｬﾝｾﾙ", (118, 31, 50, 14)),
    (1010, STATIC, "登録", (0, 0, 174, 8)),
]
VERIFIED = [
    (-1, STATIC, "確認した日", (9, 14, 40, 8)),
    (-1, STATIC, "名前", (59, 14, 60, 8)),
    (-1, STATIC, "宛先", (129, 14, 60, 8)),
    (-1, STATIC, "鍵", (214, 14, 40, 8)),
    (1045, LISTBOX, "", (7, 24, 266, 98)),
    (1046, BUTTON, "確認を取り消す", (7, 128, 70, 14)),
    (2, BUTTON, "閉じる", (223, 128, 50, 14)),
    (1010, STATIC, "確認済みの相手", (0, 0, 279, 8)),
]


def read_text(*parts):
    with open(os.path.join(ROOT, *parts), encoding="utf-8") as f:
        return f.read()


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def read_define(name):
    text = read_text("res", "resource.h")
    m = re.search(r"#define\s+%s\s+\"([^\"]*)\"" % name, text)
    return m.group(1)


def mnemonics(text):
    """The letters after a single "&" in a text ("&&" shows an ampersand)."""
    if not isinstance(text, str):
        return []
    return [m.upper() for m in re.findall(r"(?<!&)(?:&&)*&([^&])", text)]


def sz_or_ord(b, o):
    if struct.unpack_from("<H", b, o)[0] == 0xFFFF:
        return struct.unpack_from("<H", b, o + 2)[0], o + 4
    e = o
    while struct.unpack_from("<H", b, e)[0]:
        e += 2
    return b[o:e].decode("utf-16-le"), e + 2


def parse_res(data):
    """{(type, name): (language, bytes)} of a binary .res file."""
    out, o = {}, 0
    while o < len(data):
        size, hsize = struct.unpack_from("<II", data, o)
        t, p = sz_or_ord(data, o + 8)
        n, p = sz_or_ord(data, p)
        p = (p + 3) & ~3
        lang = struct.unpack_from("<H", data, p + 6)[0]
        if size:
            out[(t, n)] = (lang, data[o + hsize:o + hsize + size])
        o = (o + hsize + size + 3) & ~3
    return out


def parse_dialogex(b):
    ver, sig, _, ex, style, n, _, _, cx, cy = struct.unpack_from("<HHIIIHhhhh", b, 0)
    assert (ver, sig) == (1, 0xFFFF), "not a DIALOGEX template"
    p = 26
    menu, p = sz_or_ord(b, p)
    cls, p = sz_or_ord(b, p)
    title, p = sz_or_ord(b, p)
    pt = struct.unpack_from("<H", b, p)[0]
    face, p = sz_or_ord(b, p + 6)
    items = []
    for _ in range(n):
        p = (p + 3) & ~3
        _, iex, ist, x, y, w, h, iid = struct.unpack_from("<IIIhhhhi", b, p)
        icls, p = sz_or_ord(b, p + 24)
        icls = CLASS_ATOMS.get(str(icls).upper(), icls)  # a class may be stored by name
        text, p = sz_or_ord(b, p)
        p += 2 + struct.unpack_from("<H", b, p)[0]
        items.append(dict(id=iid, cls=icls, text=text, rect=(x, y, w, h), style=ist, ex=iex))
    return dict(style=style, ex=ex, size=(cx, cy), menu=menu, cls=cls, title=title,
                font=(pt, face), items=items)


class Compiled:
    res = None
    ico = None

    @classmethod
    def get(cls):
        if cls.res is None:
            tmp = tempfile.mkdtemp()
            cls.ico = os.path.join(tmp, "Kelvaro.ico")
            subprocess.run([sys.executable, os.path.join(ROOT, "res", "make_icon.py"), cls.ico],
                           check=True)
            subprocess.run([sys.executable, os.path.join(ROOT, "res", "make_ring.py"),
                            os.path.join(tmp, "ring.wav")], check=True)
            out = os.path.join(tmp, "Kelvaro.res")
            subprocess.run([WINDRES, "--codepage=65001", "-I", ROOT, "-I", os.path.join(ROOT, "res"),
                            "-I", tmp, os.path.join(ROOT, "res", "Kelvaro.rc"), "-O", "res",
                            "-o", out], check=True)
            cls.res = parse_res(read_bytes(out))
        return cls.res


class DialogTemplates(unittest.TestCase):
    def dialog(self, rid):
        res = Compiled.get()
        self.assertIn((5, rid), res, "dialog %d missing" % rid)
        return parse_dialogex(res[(5, rid)][1])

    def check_controls(self, rid, expected):
        d = self.dialog(rid)
        got = [(i["id"], i["cls"]) for i in d["items"]]
        self.assertEqual([(e[0], e[1]) for e in expected], got, "controls or tab order of %d" % rid)
        for e, it in zip(expected, d["items"]):
            self.assertEqual(e[3], it["rect"], "rect of %d/%d" % (rid, e[0]))
            if e[2] is not None:
                self.assertEqual(e[2], it["text"], "text of %d/%d" % (rid, e[0]))
        return d

    def check_frame(self, d, size):
        self.assertEqual(size, d["size"])
        self.assertEqual(FONT, d["font"])
        self.assertTrue(d["style"] & WS_POPUP and d["style"] & DS_SETFONT)
        self.assertFalse(d["style"] & (WS_CAPTION | WS_BORDER | WS_THICKFRAME),
                         "a shaped dialog has no system caption or border")
        self.assertEqual(("", 0, ""), (d["menu"], d["cls"] or 0, d["title"]))

    def by_id(self, d, cid):
        return [i for i in d["items"] if i["id"] == cid][0]

    def test_about_box(self):
        d = self.check_controls(100, ABOUT)
        self.check_frame(d, (235, 119))
        icon, version, tagline, ok, hp, mail = d["items"][:6]
        self.assertEqual(SS_ICON, icon["style"] & SS_TYPEMASK)
        self.assertTrue(version["style"] & SS_NOPREFIX)
        self.assertTrue(tagline["text"], "second line must not be empty")
        self.assertTrue(ok["style"] & WS_GROUP and ok["style"] & WS_TABSTOP)
        url, addr = read_define("KELVARO_HOMEPAGE_URL"), read_define("KELVARO_MAIL_ADDRESS")
        self.assertTrue(url.startswith("http://") and url.endswith("/"))
        self.assertEqual("HP      : " + url, hp["text"])
        self.assertEqual("e-mail  : " + addr, mail["text"])
        for link in (hp, mail):
            self.assertEqual(SS_NOTIFY | SS_SUNKEN | WS_TABSTOP,
                             link["style"] & (SS_NOTIFY | SS_SUNKEN | WS_TABSTOP),
                             "links report clicks and take the keyboard's focus")

    def test_main_window(self):
        d = self.check_controls(102, MAIN)
        self.check_frame(d, (319, 299))
        self.assertEqual(WS_VISIBLE | WS_CLIPCHILDREN, d["style"] & (WS_VISIBLE | WS_CLIPCHILDREN))
        self.assertEqual(WS_EX_APPWINDOW | WS_EX_TOOLWINDOW, d["ex"])
        hidden = sorted(i["id"] for i in d["items"] if not i["style"] & WS_VISIBLE)
        self.assertEqual([1, 1010, 1013, 1023, 1024], hidden)
        enter = self.by_id(d, 1)
        self.assertEqual(BS_DEFPUSHBUTTON, enter["style"] & BS_TYPEMASK,
                         "Enter reaches the send handler through the hidden default button")
        for cid in (1018, 1002, 1003, 1005, 1016, 1017, 2, 1004, 1024):
            self.assertEqual(BS_OWNERDRAW, self.by_id(d, cid)["style"] & BS_TYPEMASK, cid)
        self.assertEqual(BS_AUTOCHECKBOX, self.by_id(d, 1019)["style"] & BS_TYPEMASK)
        for cid in (1000, 1001, 1007, 1012):
            st = self.by_id(d, cid)["style"]
            self.assertTrue(st & ES_AUTOHSCROLL and st & WS_TABSTOP, cid)
            self.assertFalse(st & ES_NUMBER, "%d takes any text" % cid)
        combo = self.by_id(d, 1015)["style"]
        self.assertEqual(CBS_DROPDOWNLIST, combo & CBS_TYPEMASK)
        self.assertFalse(combo & CBS_SORT, "phonebook index k must stay entry k-1")
        for cid in (1008, 1009):
            st = self.by_id(d, cid)["style"]
            self.assertFalse(st & LBS_SORT, "lines stay in arrival order")
            self.assertTrue(st & LBS_NOINTEGRALHEIGHT and st & WS_VSCROLL and st & WS_HSCROLL)
        status = self.by_id(d, 1013)["style"]
        self.assertEqual(SS_CENTER, status & SS_TYPEMASK)
        self.assertTrue(status & SS_CENTERIMAGE and status & SS_SUNKEN)
        self.assertTrue(self.by_id(d, 1011)["style"] & SS_NOPREFIX,
                        "a peer's name with '&' must show as sent")
        secure = self.by_id(d, 1023)["style"]
        self.assertEqual((SS_LEFT, 0), (secure & SS_TYPEMASK, secure & WS_TABSTOP))

    def test_mnemonics(self):
        # The letters that Alt picks in each dialog: texts of buttons and of statics that
        # show "&" as an underline. Each letter once.
        for rid, letters in ((102, ["I", "O"]), (100, []), (137, []), (138, []), (139, []), (141, [])):
            got = []
            for it in self.dialog(rid)["items"]:
                if it["cls"] == BUTTON or (it["cls"] == STATIC and not it["style"] & SS_NOPREFIX):
                    got += mnemonics(it["text"])
            self.assertEqual(letters, got, "dialog %d" % rid)

    def test_name_dialog(self):
        d = self.check_controls(137, NAME)
        self.check_frame(d, (175, 49))
        self.assertFalse(self.by_id(d, 1010)["style"] & WS_VISIBLE)
        for cid in (1012, 1, 2):
            self.assertTrue(self.by_id(d, cid)["style"] & WS_TABSTOP, cid)

    def test_verified_contacts_dialog(self):
        d = self.check_controls(141, VERIFIED)
        self.check_frame(d, (280, 150))
        self.assertFalse(self.by_id(d, 1045)["style"] & LBS_SORT, "line k stands for contact k")

    def test_every_dialog_in_japanese(self):
        res = Compiled.get()
        for rid in (100, 102, 137, 138, 139, 141):
            self.assertEqual(0x411, res[(5, rid)][0], rid)


class MenuStringsVersion(unittest.TestCase):
    def test_tray_menu(self):
        d = Compiled.get()[(4, 129)][1]
        p, items = 4, []
        while p < len(d):
            flags = struct.unpack_from("<H", d, p)[0]
            p += 2
            if flags & 0x10:
                text, p = sz_or_ord(d, p)
                items.append(("popup", text))
                continue
            mid = struct.unpack_from("<H", d, p)[0]
            text, p = sz_or_ord(d, p + 2)
            items.append((mid, text))
        self.assertEqual([("popup", "menu"), (32771, "元のサイズに戻す(&R)"), (0, ""),
                          (32790, "不在着信(&C)"), (32791, "今日の会話記録を開く(&L)"),
                          (32798, "留守録を聞く(&U)..."),
                          (32800, "確認済みの相手(&T)..."), (0, ""),
                          (32792, "応答しない(&D)"), (32797, "留守録にする(&A)"), (32793, "会話を記録する(&K)"),
                          (32794, "着信音を鳴らす(&S)"),
                          (32795, "暗号化しない相手とは話さない(&E)"),
                          (32796, "近くの相手に知らせる(&N)"),
                          (32799, "Windows の起動時に開始(&W)"), (0, ""),
                          (32788, "使用方法(&M)"), (32789, "変更歴(&H)"),
                          (57664, "ﾊﾞｰｼﾞｮﾝ情報(&V)..."), (0, ""),
                          (57602, "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)")], items)
        self.assertEqual(["R", "C", "L", "U", "T", "D", "A", "K", "S", "E", "N", "W", "M", "H", "V", "X"],
                         [m for _, text in items for m in mnemonics(text)], "each letter once")

    def test_strings(self):
        strings = {}
        for (t, n), (_, d) in Compiled.get().items():
            if t != 6:
                continue
            p = 0
            for k in range(16):
                ln = struct.unpack_from("<H", d, p)[0]
                if ln:
                    strings[(n - 1) * 16 + k] = d[p + 2:p + 2 + 2 * ln].decode("utf-16-le")
                p += 2 + 2 * ln
        self.assertEqual({101: "ﾊﾞｰｼﾞｮﾝ情報(&A)...",
                          103: "Windows ｿｹｯﾄの初期化に失敗しました。",
                          57344: "Kelvaro"}, strings)

    def test_version_block(self):
        d = Compiled.get()[(16, 1)][1]
        fixed = d.index(struct.pack("<I", 0xFEEF04BD))
        self.assertEqual((3, 0x40001, 3, 0x40001), struct.unpack_from("<IIII", d, fixed + 8),
                         "file and product version 0.3.4.1")
        text = d.decode("utf-16-le", errors="replace")
        self.assertIn("041104b0", text)
        self.assertIn("Translation\0\0\u0411\u04b0", text)
        for key, value in [("FileVersion", "0, 3, 4, 1"), ("ProductVersion", "0, 3, 4, 1"),
                           ("OriginalFilename", "Kelvaro.EXE"), ("ProductName", "Kelvaro"),
                           ("InternalName", "Kelvaro"), ("Comments", "Kelvaro"),
                           ("FileDescription", "Kelvaro"), ("LegalTrademarks", ""),
                           ("PrivateBuild", ""), ("SpecialBuild", "")]:
            self.assertRegex(text, key + "\0+" + re.escape(value) + "\0", key)


class Ring(unittest.TestCase):
    def test_short_pcm_wave(self):
        d = Compiled.get()[("WAVE", 130)][1]
        self.assertEqual((b"RIFF", b"WAVE", b"fmt ", 1, 1, b"data"),
                         (d[:4], d[8:12], d[12:16]) + struct.unpack_from("<HH", d, 20) + (d[36:40],), "PCM, mono")
        byte_rate, size = struct.unpack_from("<I", d, 28)[0], struct.unpack_from("<I", d, 40)[0]
        self.assertLess(size / byte_rate, 2.0, "a ring must end before the next, two seconds later")
        self.assertGreater(max(d[44:44 + size]) - min(d[44:44 + size]), 100, "the ring is silent")


class Icon(unittest.TestCase):
    def images(self):
        """{size: (bits, image bytes)} of the icon file, in its order."""
        Compiled.get()
        data = read_bytes(Compiled.ico)
        reserved, kind, count = struct.unpack_from("<HHH", data, 0)
        self.assertEqual((0, 1), (reserved, kind))
        out = {}
        for i in range(count):
            w, h, colours, _, planes, bits, size, offset = struct.unpack_from(
                "<BBBBHHII", data, 6 + 16 * i)
            self.assertEqual((w, 1), (h, planes))
            self.assertEqual(16 if bits == 4 else 0, colours)
            self.assertLessEqual(offset + size, len(data))
            out[w or 256] = (bits, data[offset:offset + size])
        return out

    def test_every_size_a_display_scale_asks_for(self):
        images = self.images()
        self.assertEqual([256, 64, 48, 40, 32, 24, 20, 16], list(images))
        self.assertEqual({16: 4, 32: 4}, {w: b for w, (b, _) in images.items() if b != 32})
        for w, (bits, img) in images.items():
            if w == 256:
                self.assertEqual(b"\x89PNG\r\n\x1a\n", img[:8], "the 256-pixel image is a PNG")
                self.assertEqual((256, 256, 8, 6), struct.unpack_from(">IIBB", img, 16), "RGBA")
                continue
            hsize, bw, bh, planes, bpp, comp, isize = struct.unpack_from("<IiiHHII", img, 0)
            self.assertEqual((40, w, 2 * w, 1, bits, 0), (hsize, bw, bh, planes, bpp, comp), w)
            pixels = w * w // 2 if bits == 4 else w * w * 4
            andm = ((w + 31) // 32) * 4 * w
            self.assertEqual(40 + (64 if bits == 4 else 0) + pixels + andm, len(img), w)
            self.assertEqual(pixels + andm, isize, w)

    def test_corners_transparent_centre_opaque(self):
        for w, (bits, img) in self.images().items():
            if w == 256:
                continue
            stride = ((w + 31) // 32) * 4
            palette = 64 if bits == 4 else 0
            pixels = w * w * bits // 8
            mask = img[40 + palette + pixels:]

            def transparent(x, y):  # y counted from the top
                row = mask[(w - 1 - y) * stride:]
                return bool(row[x // 8] & (0x80 >> (x % 8)))
            self.assertTrue(transparent(w - 1, w - 1) and transparent(w - 1, 0), w)
            self.assertFalse(transparent(w // 2, w // 3), w)
            if bits == 4:
                # The transparent pixels carry colour 0, so they draw nothing.
                xor = img[40 + 64:40 + 64 + pixels]
                byte = xor[(w - 1) * w // 2 + (w - 1) // 2]
                self.assertEqual(0, byte & 0x0F)
            else:
                # Alpha: none in the corner, full in the middle of the balloon.
                def alpha(x, y):
                    return img[40 + ((w - 1 - y) * w + x) * 4 + 3]
                self.assertEqual((0, 255), (alpha(w - 1, w - 1), alpha(w // 2, w // 3)), w)


class Manifest(unittest.TestCase):
    def test_windows_versions_scaling_and_no_elevation(self):
        import xml.etree.ElementTree as ET
        lang, data = Compiled.get()[(24, 1)]
        root = ET.fromstring(data)
        ns = {"c": "urn:schemas-microsoft-com:compatibility.v1",
              "v3": "urn:schemas-microsoft-com:asm.v3",
              "ws05": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
              "ws16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
        ids = [e.get("Id") for e in root.findall("c:compatibility/c:application/c:supportedOS", ns)]
        self.assertEqual(["{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",   # Windows 7
                          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",   # Windows 8
                          "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",   # Windows 8.1
                          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"],  # Windows 10 and 11
                         ids)
        settings = "v3:application/v3:windowsSettings/"
        self.assertEqual("PerMonitorV2, PerMonitor", root.find(settings + "ws16:dpiAwareness", ns).text)
        self.assertEqual("true/pm", root.find(settings + "ws05:dpiAware", ns).text)
        level = root.find("v3:trustInfo/v3:security/v3:requestedPrivileges/"
                          "v3:requestedExecutionLevel", ns)
        self.assertEqual(("asInvoker", "false"), (level.get("level"), level.get("uiAccess")))


class Documents(unittest.TestCase):
    def test_convert_to_shift_jis(self):
        for name in ("readme.txt", "history.txt"):
            text = read_text("docs", name)
            self.assertNotIn("\r", text, name)
            text.encode("cp932")  # raises on a character Shift-JIS lacks

    def test_readme_names_the_settings_keys(self):
        text = read_text("docs", "readme.txt")
        for key in ("IP=", "Port=", "Name=", "MinStart=", "Max=", "Name1=", "IP1=", "Port1=",
                    "32760", "Kelvaro.ini", "/tray", read_define("KELVARO_HOMEPAGE_URL"),
                    read_define("KELVARO_MAIL_ADDRESS")):
            self.assertIn(key, text)

    def test_history_reaches_current_version(self):
        text = read_text("docs", "history.txt")
        versions = re.findall(r"^Ver (\d+\.\d+)", text, re.M)
        self.assertEqual("0.34", versions[0])
        self.assertEqual("0.10", versions[-1])


if __name__ == "__main__":
    unittest.main(verbosity=2)
