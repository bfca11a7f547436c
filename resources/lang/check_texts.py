#!/usr/bin/env python3
"""Checks the language libraries' resource scripts (eng.rc, rus.rc).

The program copies every string of the libraries into a buffer of fixed size
and formats some of them with swprintf-style arguments; a text that is too long
is cut silently, and a format whose conversions are out of order prints
garbage. This script finds such mistakes before anyone sees them:

  strings  every id of the contract below is present, no other id is; each text (after
           formatting with the widest arguments it can meet) leaves room for the
           terminator of its buffer; formats carry exactly the conversions, in
           the order, that the program passes; texts shown unformatted hold no
           '%' at all; tray-tip lines fit the 128-unit tip together with the
           fixed head the program puts before them; the two language names
           are the same in every library.
  menu     menu 154 has the tray popup as submenu 0, with the commands and
           submenus where the program looks for them, and no clashing
           keyboard mnemonics within one menu level.
  dialogs  pages 107 and 108 and the countdown 187 hold every control the
           program addresses, with the right window class; the seconds
           up-down control directly follows its edit (it takes the previous
           control as its buddy); the countdown is not created visible;
           mnemonics do not clash within one dialog.

Usage: check_texts.py [-v] [--dump] [file.rc ...]
With no files, eng.rc and rus.rc beside this script are checked.
-v lists how many units each string takes against what fits.
--dump prints "id<TAB>text" for every string (CR, LF, TAB and backslash
escaped), to compare with what LoadStringW returns from a built library.
Exit status 0 when everything holds, 1 otherwise.
"""

import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
IDS_HEADER = os.path.join(HERE, "..", "resource_ids.h")

# ---------------------------------------------------------------------------
# What the program expects of every string.
# ---------------------------------------------------------------------------

# Widest values each kind of argument can take when the program formats.
LETTER = "W"                 # widest drive letter
INT32_WIDEST = -2147483648   # 11 characters: any signed 32-bit value
TRACK_WIDEST = 255           # track numbers are bytes
VERSION_PART_RUNNING = 65535  # version resource parts are 16-bit

# Texts 179..183 end up in a tray tip of 128 units (127 shown) after the
# head "Spindlebay v.6\n[E:] "; 181..183 also after the word "Audio CD".
TIP_CAPACITY = 128
TIP_HEAD = "Spindlebay v.6\n[E:] "
AUDIO_LABEL = "Audio CD"

# id name -> (capacity incl. terminator, conversions in order, widest
#             arguments, extra prefix the text is shown after in a tip,
#             capacity of the formatted result)
CONTRACT = {
    "IDS_LANG0":          (25, "", (), None, None),
    "IDS_LANG1":          (25, "", (), None, None),
    "IDS_COMMON_TIP":     (50, "", (), None, None),
    # Formatted into 64 units, but shown in a balloon and a message box next
    # to the same text loaded into 50: keep it within the smaller size.
    "IDS_EJECTED":        (50, "c", (LETTER,), None, 50),
    "IDS_EJECTED_CAP":    (25, "", (), None, None),
    # Seconds come from the settings file as an unsigned number printed with
    # %d, so any signed 32-bit value can appear.
    "IDS_COUNTDOWN":      (50, "dc", (INT32_WIDEST, LETTER), None, 50),
    "IDS_ABOUT":          (260, "", (), None, None),
    "IDS_SECOND_START":   (260, "", (), None, None),
    "IDS_TIP_EMPTY":      (50, "", (), TIP_HEAD, None),
    "IDS_TIP_OPEN":       (50, "", (), TIP_HEAD, None),
    "IDS_AUDIO_PLAYING":  (50, "dd", (TRACK_WIDEST, TRACK_WIDEST),
                           TIP_HEAD + AUDIO_LABEL, 50),
    "IDS_AUDIO_PAUSED":   (50, "dd", (TRACK_WIDEST, TRACK_WIDEST),
                           TIP_HEAD + AUDIO_LABEL, 50),
    "IDS_AUDIO_STOPPED":  (50, "d", (TRACK_WIDEST,),
                           TIP_HEAD + AUDIO_LABEL, 50),
    "IDS_BUSY_TIP":       (25, "", (), None, None),
    # Running version: four 16-bit parts; newer version: four numbers read
    # from a downloaded file, any signed 32-bit value.
    "IDS_UPDATE_NEWER":   (260, "dddddddd",
                           (VERSION_PART_RUNNING,) * 4 + (INT32_WIDEST,) * 4,
                           None, 260),
    "IDS_UPDATE_NONE":    (260, "", (), None, None),
    "IDS_UPDATE_CAPTION": (50, "", (), None, None),
    "IDS_UPDATE_FAILED":  (100, "", (), None, None),
    "IDS_UPDATE_BUSY":    (260, "", (), None, None),
    "IDS_STARTUP_RIGHTS": (260, "", (), None, None),
    # Shown by "sbay.exe /?" in a message box.
    "IDS_CMD_USAGE":      (1024, "", (), None, None),
    "IDS_CMD_USAGE_CAP":  (50, "", (), None, None),
}

# Strings that must read the same in every library (each language's name is
# written in that language).
SAME_EVERYWHERE = ("IDS_LANG0", "IDS_LANG1")

# Tray popup, position by position: a command id name, "-" for a separator,
# or a list for a submenu (None: the content is free, it is replaced).
TRAY_LAYOUT = [
    "IDM_HEADER",
    "IDM_OPEN",
    "IDM_CLOSE",
    None,
    "-",
    "IDM_AUTORUN",
    "IDM_LOCK",
    "-",
    ["IDM_SPEED_1X", "IDM_SPEED_2X", "IDM_SPEED_4X", "IDM_SPEED_8X",
     "IDM_SPEED_16X", "IDM_SPEED_32X", "IDM_SPEED_MAX"],
    ["IDM_PLAY", "IDM_PAUSE", "IDM_STOP", "IDM_PREVIOUS", "IDM_NEXT"],
    "-",
    "IDM_SETTINGS",
    ["IDM_README", "IDM_UPDATE", "-", "IDM_ABOUT"],
    "-",
    "IDM_EXIT",
]
SUBMENU_POSITIONS = ("TRAY_POS_SHELL", "TRAY_POS_SPEED", "TRAY_POS_AUDIO",
                     "TRAY_POS_PROGRAM")
HEADER_TEXT = "Spindlebay [A:]"
HEADER_LETTER_INDEX = 12   # the program overwrites this character

# Controls the program addresses, by dialog: id name -> kind.
DIALOG_CONTROLS = {
    "IDD_GENERAL": {
        "IDC_AUTOSTART": "autocheck", "IDC_AS_SERVICE": "autocheck",
        "IDC_LANGUAGE": "comboex", "IDC_DEF_DISK": "comboex",
        "IDC_DEF_EJECT": "hotkey", "IDC_DEF_EJECT_WIN": "autocheck",
        "IDC_DEF_CLOSE": "hotkey", "IDC_DEF_CLOSE_WIN": "autocheck",
        "IDC_DEF_SELECT": "hotkey", "IDC_DEF_SELECT_WIN": "autocheck",
    },
    "IDD_DRIVE": {
        "IDC_DRIVE": "comboex",
        "IDC_EJECT_KEY": "hotkey", "IDC_EJECT_KEY_WIN": "autocheck",
        "IDC_CLOSE_KEY": "hotkey", "IDC_CLOSE_KEY_WIN": "autocheck",
        "IDC_AUTO_CLOSE": "autocheck", "IDC_SECONDS": "edit",
        "IDC_SECONDS_SPIN": "updown", "IDC_SHOW_TIME": "autocheck",
        "IDC_LOGOFF_EJECT": "autocheck", "IDC_BEEP_INSIDE": "autocheck",
        "IDC_HIDE": "autocheck", "IDC_LOCK": "autocheck",
    },
    "IDD_COUNTDOWN": {
        "IDC_PROGRESS": "progress", "IDOK": "defpush", "IDCANCEL": "push",
    },
}
PAGE_STYLE = {"DS_SETFONT", "DS_FIXEDSYS", "WS_CHILD", "WS_DISABLED",
              "WS_CAPTION"}
COUNTDOWN_STYLE = {"DS_MODALFRAME", "DS_SETFONT", "DS_FIXEDSYS", "WS_POPUP",
                   "WS_CAPTION", "WS_SYSMENU"}
UPDOWN_STYLE = {"UDS_SETBUDDYINT", "UDS_ALIGNRIGHT", "UDS_AUTOBUDDY",
                "UDS_ARROWKEYS"}
WINDOWS_IDS = {"IDOK": 1, "IDCANCEL": 2}


class CheckError(Exception):
    pass


# ---------------------------------------------------------------------------
# Reading the files.
# ---------------------------------------------------------------------------

def read_ids(path):
    ids = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"\s*#define\s+(\w+)\s+(\d+)\b", line)
            if m:
                ids[m.group(1)] = int(m.group(2))
    ids.update(WINDOWS_IDS)
    return ids


ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "a": "\a", "\\": "\\",
           '"': '"', "0": "\0"}


def decode_literal(body, where):
    out = []
    i = 0
    while i < len(body):
        ch = body[i]
        if ch == '"':            # "" inside a literal is one quote
            out.append('"')
            i += 2
        elif ch == "\\":
            nxt = body[i + 1:i + 2]
            if nxt == "x":
                m = re.match(r"[0-9A-Fa-f]{1,4}", body[i + 2:])
                if not m:
                    raise CheckError(f"{where}: bad \\x escape")
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
            elif nxt in ESCAPES:
                out.append(ESCAPES[nxt])
                i += 2
            else:
                raise CheckError(f"{where}: unknown escape \\{nxt}")
        else:
            out.append(ch)
            i += 1
    return "".join(out)


TOKEN = re.compile(r'''
    (?P<ws>\s+)
  | (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<directive>^[ \t]*\#[^\n]*)
  | (?P<string>"(?:[^"\\\n]|\\.|"")*")
  | (?P<word>[A-Za-z_][A-Za-z0-9_]*)
  | (?P<number>-?(?:0[xX][0-9A-Fa-f]+|\d+)[Ll]?)
  | (?P<punct>[,|])
''', re.VERBOSE | re.DOTALL | re.MULTILINE)


class Token:
    def __init__(self, kind, value, line):
        self.kind, self.value, self.line = kind, value, line

    def __repr__(self):
        return f"{self.kind}:{self.value!r}@{self.line}"


def tokenize(text, path):
    tokens = []
    pos = 0
    line = 1
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m:
            raise CheckError(f"{path}:{line}: cannot read {text[pos:pos+20]!r}")
        kind = m.lastgroup
        value = m.group(kind)
        if kind == "string":
            tokens.append(Token("string",
                                decode_literal(value[1:-1], f"{path}:{line}"),
                                line))
        elif kind in ("word", "number", "punct"):
            tokens.append(Token(kind, value, line))
        line += value.count("\n")
        pos = m.end()
    return tokens


class Script:
    """The parts of one .rc file that the checks need."""

    def __init__(self, path, ids):
        self.path = path
        self.ids = ids
        with open(path, encoding="utf-8") as f:
            text = f.read()
        if not re.search(r"^\s*#pragma\s+code_page\(\s*65001\s*\)", text,
                         re.MULTILINE):
            raise CheckError(f"{path}: #pragma code_page(65001) missing")
        self.tokens = tokenize(text, path)
        self.strings = {}     # numeric id -> (text, line)
        self.menus = {}       # numeric id -> list of items
        self.dialogs = {}     # numeric id -> dict
        self._parse()

    # -- helpers --
    def value_of(self, tok):
        if tok.kind == "number":
            return int(tok.value.rstrip("Ll"), 0)
        if tok.kind == "word" and tok.value in self.ids:
            return self.ids[tok.value]
        raise CheckError(f"{self.path}:{tok.line}: unknown id {tok.value}")

    def expect(self, i, kind, value=None):
        tok = self.tokens[i]
        if tok.kind != kind or (value is not None and tok.value != value):
            want = value or kind
            raise CheckError(f"{self.path}:{tok.line}: expected {want}, "
                             f"found {tok.value!r}")
        return tok

    def block_end(self, i):
        """i is at BEGIN; returns the index just past the matching END."""
        depth = 0
        while i < len(self.tokens):
            tok = self.tokens[i]
            if tok.kind == "word" and tok.value in ("BEGIN", "{"):
                depth += 1
            elif tok.kind == "word" and tok.value in ("END", "}"):
                depth -= 1
                if depth == 0:
                    return i + 1
            i += 1
        raise CheckError(f"{self.path}: BEGIN without END")

    # -- top level --
    def _parse(self):
        t = self.tokens
        i = 0
        while i < len(t):
            tok = t[i]
            if tok.kind == "word" and tok.value == "STRINGTABLE":
                i = self._string_table(i + 1)
            elif (i + 1 < len(t) and t[i + 1].kind == "word"
                  and t[i + 1].value == "MENU"):
                i = self._menu(i)
            elif (i + 1 < len(t) and t[i + 1].kind == "word"
                  and t[i + 1].value == "DIALOGEX"):
                i = self._dialog(i)
            else:
                i += 1

    def _string_table(self, i):
        t = self.tokens
        while not (t[i].kind == "word" and t[i].value == "BEGIN"):
            i += 1
        end = self.block_end(i) - 1
        i += 1
        while i < end:
            sid = self.value_of(t[i])
            line = t[i].line
            i += 1
            if t[i].kind == "punct" and t[i].value == ",":
                i += 1
            text = self.expect(i, "string").value
            i += 1
            if i < end and t[i].kind == "string":
                raise CheckError(f"{self.path}:{line}: write string {sid} as "
                                 "one literal")
            if sid in self.strings:
                raise CheckError(f"{self.path}:{line}: string {sid} given twice")
            self.strings[sid] = (text, line)
        return end + 1

    def _menu(self, i):
        t = self.tokens
        mid = self.value_of(t[i])
        i += 2
        while not (t[i].kind == "word" and t[i].value == "BEGIN"):
            i += 1
        items, i = self._menu_items(i + 1)
        self.menus[mid] = items
        return i

    def _menu_items(self, i):
        """Reads items up to the END of the current level."""
        t = self.tokens
        items = []
        while True:
            tok = t[i]
            if tok.kind == "word" and tok.value == "END":
                return items, i + 1
            if tok.kind == "word" and tok.value == "POPUP":
                text = self.expect(i + 1, "string").value
                line = tok.line
                i += 2
                while not (t[i].kind == "word" and t[i].value == "BEGIN"):
                    i += 1
                sub, i = self._menu_items(i + 1)
                items.append({"kind": "popup", "text": text, "items": sub,
                              "line": line})
            elif tok.kind == "word" and tok.value == "MENUITEM":
                if t[i + 1].kind == "word" and t[i + 1].value == "SEPARATOR":
                    items.append({"kind": "separator", "line": tok.line})
                    i += 2
                    continue
                text = self.expect(i + 1, "string").value
                self.expect(i + 2, "punct", ",")
                cid = self.value_of(t[i + 3])
                flags = []
                i += 4
                while t[i].kind == "punct" and t[i].value == ",":
                    flags.append(t[i + 1].value)
                    i += 2
                items.append({"kind": "item", "text": text, "id": cid,
                              "flags": flags, "line": tok.line})
            else:
                raise CheckError(f"{self.path}:{tok.line}: unexpected "
                                 f"{tok.value!r} in a menu")

    CONTROL_WORDS = {"LTEXT", "RTEXT", "CTEXT", "GROUPBOX", "PUSHBUTTON",
                     "DEFPUSHBUTTON", "CHECKBOX", "AUTOCHECKBOX",
                     "RADIOBUTTON", "AUTORADIOBUTTON", "EDITTEXT", "COMBOBOX",
                     "LISTBOX", "CONTROL", "ICON", "SCROLLBAR"}

    def _dialog(self, i):
        t = self.tokens
        did = self.value_of(t[i])
        dialog = {"style": set(), "caption": None, "controls": [],
                  "line": t[i].line}
        i += 2
        while not (t[i].kind == "word" and t[i].value == "BEGIN"):
            tok = t[i]
            if tok.kind == "word" and tok.value == "STYLE":
                i += 1
                while True:
                    dialog["style"].add(t[i].value)
                    i += 1
                    if not (t[i].kind == "punct" and t[i].value == "|"):
                        break
                    i += 1
                continue
            if tok.kind == "word" and tok.value == "CAPTION":
                dialog["caption"] = self.expect(i + 1, "string").value
                i += 2
                continue
            i += 1
        end = self.block_end(i) - 1
        i += 1
        while i < end:
            tok = t[i]
            if tok.kind != "word" or tok.value not in self.CONTROL_WORDS:
                raise CheckError(f"{self.path}:{tok.line}: unexpected "
                                 f"{tok.value!r} in a dialog")
            j = i + 1
            while j < end and not (t[j].kind == "word"
                                   and t[j].value in self.CONTROL_WORDS
                                   and t[j - 1].kind != "punct"):
                j += 1
            dialog["controls"].append(self._control(tok.value, t[i + 1:j],
                                                    tok.line))
            i = j
        self.dialogs[did] = dialog
        return end + 1

    def _control(self, word, args, line):
        """Splits one control statement into text, id, class and style."""
        fields = [[]]
        for tok in args:
            if tok.kind == "punct" and tok.value == ",":
                fields.append([])
            else:
                fields[-1].append(tok)
        ctl = {"word": word, "line": line, "text": None, "class": None,
               "style": set()}
        if word in ("EDITTEXT", "COMBOBOX", "LISTBOX", "SCROLLBAR"):
            id_field, rest = fields[0], fields[1:]
            style_fields = rest[4:5]
        elif word == "CONTROL":
            ctl["text"] = fields[0][0].value
            id_field = fields[1]
            ctl["class"] = fields[2][0].value
            style_fields = fields[3:4]
        else:
            ctl["text"] = fields[0][0].value
            id_field = fields[1]
            style_fields = fields[6:7]
        ctl["id"] = self.value_of(id_field[0])
        for f in style_fields:
            ctl["style"].update(tok.value for tok in f
                                if tok.kind == "word")
        return ctl


# ---------------------------------------------------------------------------
# Formatting as the program's wide formatter does, for %d, %c and %%.
# ---------------------------------------------------------------------------

def conversions(fmt):
    """The conversion letters of a format, in order; raises on anything but
    %d, %c and %%."""
    found = []
    i = 0
    while i < len(fmt):
        if fmt[i] == "%":
            nxt = fmt[i + 1:i + 2]
            if nxt == "%":
                i += 2
                continue
            if nxt not in ("d", "c"):
                raise CheckError(f"conversion %{nxt} is not allowed "
                                 "(only %d, %c and %%)")
            found.append(nxt)
            i += 2
        else:
            i += 1
    return "".join(found)


def format_text(fmt, args):
    out = []
    args = list(args)
    i = 0
    while i < len(fmt):
        if fmt[i] == "%":
            nxt = fmt[i + 1]
            if nxt == "%":
                out.append("%")
            else:
                value = args.pop(0)
                out.append(str(value) if nxt == "d" else value)
            i += 2
        else:
            out.append(fmt[i])
            i += 1
    return "".join(out)


def units(text):
    """Length in UTF-16 code units, as the program's buffers count."""
    return len(text.encode("utf-16-le")) // 2


# ---------------------------------------------------------------------------
# Checks.
# ---------------------------------------------------------------------------

def check_strings(script, ids, problems):
    name_of = {ids[name]: name for name in CONTRACT}
    for sid in sorted(script.strings):
        if sid not in name_of:
            problems.append(f"{script.path}: string {sid} is not one the "
                            "program loads")
    for name, (cap, conv, widest, prefix, formatted_cap) in CONTRACT.items():
        sid = ids[name]
        if sid not in script.strings:
            problems.append(f"{script.path}: string {sid} ({name}) missing")
            continue
        text, line = script.strings[sid]
        where = f"{script.path}:{line}: string {sid} ({name})"
        if not text:
            problems.append(f"{where}: empty")
            continue
        if units(text) > cap - 1:
            problems.append(f"{where}: {units(text)} units, the buffer holds "
                            f"{cap - 1}")
        if not conv:
            if "%" in text:
                problems.append(f"{where}: shown as it is, so '%' would "
                                "appear literally; leave it out")
            shown = text
        else:
            try:
                found = conversions(text)
            except CheckError as e:
                problems.append(f"{where}: {e}")
                continue
            if found != conv:
                problems.append(f"{where}: conversions "
                                f"{'-'.join('%' + c for c in found) or 'none'}"
                                f", the program passes "
                                f"{'-'.join('%' + c for c in conv)}")
                continue
            shown = format_text(text, widest)
            if units(shown) > formatted_cap - 1:
                problems.append(f"{where}: formatted with the widest "
                                f"arguments it is {units(shown)} units "
                                f"({shown!r}), at most {formatted_cap - 1} fit")
        if prefix is not None:
            tip = prefix + shown
            if units(tip) > TIP_CAPACITY - 1:
                problems.append(f"{where}: the tray tip {tip!r} is "
                                f"{units(tip)} units, at most "
                                f"{TIP_CAPACITY - 1} are shown")


def mnemonic(text):
    """The mnemonic character of a text (lower case) or None; raises when
    there are two."""
    found = []
    i = 0
    while i < len(text):
        if text[i] == "&":
            if text[i + 1:i + 2] == "&":
                i += 2
                continue
            if i + 1 < len(text):
                found.append(text[i + 1].lower())
        i += 1
    if len(found) > 1:
        raise CheckError(f"{text!r} has {len(found)} mnemonics")
    return found[0] if found else None


def check_mnemonics(texts, where, problems):
    seen = {}
    for text, line in texts:
        try:
            key = mnemonic(text)
        except CheckError as e:
            problems.append(f"{where}:{line}: {e}")
            continue
        if key is None:
            continue
        if key in seen:
            problems.append(f"{where}:{line}: mnemonic '{key}' of {text!r} "
                            f"is already used by {seen[key]!r}")
        else:
            seen[key] = text


def check_menu_level(items, layout, ids, path, label, problems):
    if len(items) != len(layout):
        problems.append(f"{path}: {label} has {len(items)} items, "
                        f"{len(layout)} expected")
    for pos, (item, want) in enumerate(zip(items, layout)):
        where = f"{path}:{item['line']}: {label} position {pos}"
        if want == "-":
            if item["kind"] != "separator":
                problems.append(f"{where}: separator expected")
        elif want is None or isinstance(want, list):
            if item["kind"] != "popup":
                problems.append(f"{where}: submenu expected")
            elif want is None:
                if not item["items"]:
                    problems.append(f"{where}: an empty submenu cannot be "
                                    "built; give it a placeholder item")
                for sub in item["items"]:
                    if sub["kind"] == "item" and sub["id"] >= 0x8000:
                        problems.append(f"{path}:{sub['line']}: placeholder "
                                        "id collides with the commands")
            else:
                check_menu_level(item["items"], want, ids, path,
                                 f"{label} > {item['text']!r}", problems)
        else:
            if item["kind"] != "item" or item["id"] != ids[want]:
                got = item.get("id", item["kind"])
                problems.append(f"{where}: {want} ({ids[want]}) expected, "
                                f"found {got}")
    texts = [(it["text"], it["line"]) for it in items if it["kind"] != "separator"]
    check_mnemonics(texts, f"{path}", problems)


def check_menu(script, ids, problems):
    menu = script.menus.get(ids["IDM_TRAY"])
    if menu is None:
        problems.append(f"{script.path}: menu {ids['IDM_TRAY']} missing")
        return
    if not menu or menu[0]["kind"] != "popup":
        problems.append(f"{script.path}: submenu 0 of menu "
                        f"{ids['IDM_TRAY']} must be the tray popup")
        return
    tray = menu[0]["items"]
    for name in SUBMENU_POSITIONS:
        pos = ids[name]
        if not isinstance(TRAY_LAYOUT[pos], list) and TRAY_LAYOUT[pos] is not None:
            problems.append(f"check_texts.py: {name} ({pos}) is no submenu "
                            "in the expected layout")
    check_menu_level(tray, TRAY_LAYOUT, ids, script.path, "tray menu", problems)
    if tray and tray[0]["kind"] == "item":
        text = tray[0]["text"]
        if text != HEADER_TEXT or text[HEADER_LETTER_INDEX] != "A":
            problems.append(f"{script.path}:{tray[0]['line']}: header item "
                            f"must read {HEADER_TEXT!r}, found {text!r}")


def control_kind(ctl):
    word = ctl["word"]
    if word == "AUTOCHECKBOX":
        return "autocheck"
    if word == "EDITTEXT":
        return "edit"
    if word == "DEFPUSHBUTTON":
        return "defpush"
    if word == "PUSHBUTTON":
        return "push"
    if word == "CONTROL":
        cls = ctl["class"].lower()
        if cls == "comboboxex32" and "CBS_DROPDOWNLIST" in ctl["style"]:
            return "comboex"
        return {"msctls_hotkey32": "hotkey", "msctls_updown32": "updown",
                "msctls_progress32": "progress"}.get(cls, cls)
    return word.lower()


def check_dialogs(script, ids, problems):
    for dname, wanted in DIALOG_CONTROLS.items():
        did = ids[dname]
        dialog = script.dialogs.get(did)
        where = f"{script.path}: dialog {did} ({dname})"
        if dialog is None:
            problems.append(f"{where} missing")
            continue
        style = dialog["style"]
        if dname == "IDD_COUNTDOWN":
            need, banned = COUNTDOWN_STYLE, {"WS_VISIBLE", "WS_CHILD"}
        else:
            need, banned = PAGE_STYLE, {"WS_VISIBLE", "WS_POPUP"}
        if not need <= style:
            problems.append(f"{where}: style lacks {sorted(need - style)}")
        if style & banned:
            problems.append(f"{where}: style must not have "
                            f"{sorted(style & banned)}")
        if not dialog["caption"]:
            problems.append(f"{where}: caption missing")
        controls = dialog["controls"]
        by_id = {}
        for ctl in controls:
            if ctl["id"] in (-1, 0xFFFF):
                continue
            if ctl["id"] in by_id:
                problems.append(f"{script.path}:{ctl['line']}: id "
                                f"{ctl['id']} used twice in {dname}")
            by_id[ctl["id"]] = ctl
        for cname, kind in wanted.items():
            ctl = by_id.get(ids[cname])
            if ctl is None:
                problems.append(f"{where}: control {ids[cname]} ({cname}) "
                                "missing")
            elif control_kind(ctl) != kind:
                problems.append(f"{script.path}:{ctl['line']}: {cname} must "
                                f"be {kind}, found {control_kind(ctl)}")
        if dname == "IDD_DRIVE":
            order = [c["id"] for c in controls]
            edit, spin = ids["IDC_SECONDS"], ids["IDC_SECONDS_SPIN"]
            if edit in order and spin in order:
                if order.index(spin) != order.index(edit) + 1:
                    problems.append(f"{where}: the up-down control must "
                                    "directly follow its edit")
                spin_style = by_id[spin]["style"]
                if not UPDOWN_STYLE <= spin_style:
                    problems.append(f"{where}: up-down style lacks "
                                    f"{sorted(UPDOWN_STYLE - spin_style)}")
                if "ES_NUMBER" not in by_id[edit]["style"]:
                    problems.append(f"{where}: the seconds edit takes "
                                    "digits only (ES_NUMBER)")
        if dname == "IDD_GENERAL":
            svc = by_id.get(ids["IDC_AS_SERVICE"])
            if svc is not None and "WS_DISABLED" not in svc["style"]:
                problems.append(f"{where}: the service box starts disabled")
        texts = [(c["text"], c["line"]) for c in controls
                 if c["text"] and c["word"] != "CONTROL"]
        check_mnemonics(texts, script.path, problems)


def check_same_everywhere(scripts, ids, problems):
    for name in SAME_EVERYWHERE:
        sid = ids[name]
        values = {s.path: s.strings[sid][0] for s in scripts
                  if sid in s.strings}
        if len(set(values.values())) > 1:
            problems.append(f"string {sid} ({name}) differs between "
                            f"libraries: {values}")


def needed_names():
    names = ["IDM_TRAY", *CONTRACT, *SUBMENU_POSITIONS, *DIALOG_CONTROLS]
    for controls in DIALOG_CONTROLS.values():
        names.extend(controls)

    def walk(layout):
        for entry in layout:
            if isinstance(entry, list):
                walk(entry)
            elif entry not in (None, "-"):
                names.append(entry)
    walk(TRAY_LAYOUT)
    return names


def report(script, ids):
    """One line per string: units used (formatted, and in the tray tip where
    it goes there) against the most that fit."""
    for name, (cap, conv, widest, prefix, formatted_cap) in CONTRACT.items():
        sid = ids[name]
        if sid not in script.strings:
            continue
        text = script.strings[sid][0]
        line = f"  {sid} {name:<19} text {units(text):>3}/{cap - 1:<3}"
        shown = text
        if conv and conversions(text) == conv:
            shown = format_text(text, widest)
            line += f" formatted {units(shown):>3}/{formatted_cap - 1:<3}"
        if prefix is not None:
            line += f" tip {units(prefix + shown):>3}/{TIP_CAPACITY - 1}"
        print(line)


def escape(text):
    return (text.replace("\\", "\\\\").replace("\r", "\\r")
            .replace("\n", "\\n").replace("\t", "\\t"))


def main(argv):
    dump = "--dump" in argv
    verbose = "-v" in argv
    paths = [a for a in argv if a not in ("--dump", "-v")]
    if not paths:
        paths = [os.path.join(HERE, "eng.rc"), os.path.join(HERE, "rus.rc")]
    ids = read_ids(IDS_HEADER)
    missing = [n for n in needed_names() if n not in ids]
    if missing:
        print(f"resource_ids.h lacks {missing}")
        return 1
    problems = []
    scripts = []
    for path in paths:
        try:
            scripts.append(Script(path, ids))
        except CheckError as e:
            problems.append(str(e))
    if dump:
        for s in scripts:
            for sid in sorted(s.strings):
                print(f"{sid}\t{escape(s.strings[sid][0])}")
        return 1 if problems else 0
    for s in scripts:
        if verbose:
            print(s.path)
            report(s, ids)
        check_strings(s, ids, problems)
        check_menu(s, ids, problems)
        check_dialogs(s, ids, problems)
    check_same_everywhere(scripts, ids, problems)
    for p in problems:
        print(p)
    if not problems:
        names = ", ".join(os.path.basename(s.path) for s in scripts)
        print(f"{names}: {len(CONTRACT)} strings, menu and dialogs fit")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
