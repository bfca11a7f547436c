#!/usr/bin/env python3
"""Draws every picture and the warning sound of Spindlebay.

    python3 draw.py                 write the files next to this script
    python3 draw.py --preview DIR   the same, plus enlarged PNG previews in DIR
    python3 draw.py --check         re-read the written files and verify them

Only the standard library is used and every pixel is placed by this file, so
two runs give byte-identical output.

Layout of a tray icon (16x16).  The program draws a state picture and then a
letter cell on top; black letter pixels are opaque, white ones transparent.
The letter sits in the box x 3..9, y 3..11 (most glyphs are 6 wide, M N W
are 7).  The disc is light silver there, so the black letter always reads.
Badges (cross, note, check mark) live in the lower right corner and the
default-drive star in the upper right corner, both clear of the letter and of
the one-pixel ring around it.
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
KEY = (0, 255, 255)          # transparent colour of every strip

# The letter box inside a 16x16 tray icon.
LETTER_X, LETTER_Y = 3, 3
LETTER_W, LETTER_H = 7, 9


# ---------------------------------------------------------------------------
# Canvas and drawing primitives
# ---------------------------------------------------------------------------

class Canvas:
    """A grid of colours; None is transparent."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[None] * w for _ in range(h)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def get(self, x, y):
        if 0 <= x < self.w and 0 <= y < self.h:
            return self.px[y][x]
        return None

    def grid(self, x0, y0, rows, pal):
        """Paints an ASCII picture; characters missing from pal are skipped."""
        for j, row in enumerate(rows):
            for i, ch in enumerate(row):
                c = pal.get(ch)
                if c is not None:
                    self.put(x0 + i, y0 + j, c)

    def blit(self, other, x0, y0):
        for y in range(other.h):
            for x in range(other.w):
                c = other.px[y][x]
                if c is not None:
                    self.put(x0 + x, y0 + y, c)

    def rgb(self, x, y, key=KEY):
        c = self.px[y][x]
        return key if c is None else c[:3]


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def mask_fn(w, h, inside):
    """Pixels whose centre satisfies inside(x, y)."""
    return {(x, y) for y in range(h) for x in range(w)
            if inside(x + 0.5, y + 0.5)}


def mask_grid(rows, ch='#', x0=0, y0=0):
    return {(x0 + i, y0 + j) for j, row in enumerate(rows)
            for i, c in enumerate(row) if c == ch}


def ring_of(mask, diagonal=False):
    """Pixels next to the mask but not in it."""
    steps = [(1, 0), (-1, 0), (0, 1), (0, -1)]
    if diagonal:
        steps += [(1, 1), (1, -1), (-1, 1), (-1, -1)]
    out = set()
    for (x, y) in mask:
        for dx, dy in steps:
            p = (x + dx, y + dy)
            if p not in mask:
                out.add(p)
    return out


def edge_of(mask):
    """Pixels of the mask that touch the outside (4-neighbourhood)."""
    return {(x, y) for (x, y) in mask
            if any((x + dx, y + dy) not in mask
                   for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))}


def paint(cv, pixels, c, dx=0, dy=0):
    for (x, y) in pixels:
        cv.put(x + dx, y + dy, c)


def bevel(cv, mask, light, mid, dark, outline=None, dx=0, dy=0,
          diagonal=False):
    """Fills a shape lit from the upper left, with an optional outline."""
    for (x, y) in mask:
        if (x - 1, y) not in mask or (x, y - 1) not in mask:
            c = light
        elif (x + 1, y) not in mask or (x, y + 1) not in mask:
            c = dark
        else:
            c = mid
        cv.put(x + dx, y + dy, c)
    if outline is not None:
        paint(cv, ring_of(mask, diagonal), outline, dx, dy)


def seg_dist(px, py, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    t = ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - ax - t * vx, py - ay - t * vy)


def in_polygon(px, py, pts):
    inside = False
    n = len(pts)
    for i in range(n):
        x1, y1 = pts[i]
        x2, y2 = pts[(i + 1) % n]
        if (y1 > py) != (y2 > py):
            xc = x1 + (py - y1) * (x2 - x1) / (y2 - y1)
            if px < xc:
                inside = not inside
    return inside


# ---------------------------------------------------------------------------
# Colours
# ---------------------------------------------------------------------------

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)

SILVER_RIM = (84, 90, 104)
SILVER_1 = (250, 250, 252)
SILVER_2 = (232, 234, 240)
SILVER_3 = (212, 216, 226)
HUB_RING = (188, 192, 204)
HUB = (242, 243, 247)
SHEEN_A = (246, 222, 234)     # pale pink
SHEEN_B = (216, 232, 250)     # pale blue
SHEEN_C = (244, 244, 210)     # pale yellow

RED_HI = (255, 110, 100)
RED = (224, 32, 24)
RED_DK = (150, 0, 0)
RED_OUT = (110, 0, 0)
STAR_DK = (150, 0, 0)
STAR = (200, 20, 20)

GREEN_HI = (120, 230, 110)
GREEN = (30, 170, 40)
GREEN_DK = (10, 120, 20)
GREEN_OUT = (0, 80, 10)

BLUE_HI = (120, 170, 255)
BLUE = (40, 100, 220)
BLUE_DK = (20, 60, 170)
BLUE_OUT = (10, 30, 110)

STEEL_HI = (236, 238, 242)
STEEL = (176, 182, 192)
STEEL_DK = (120, 126, 138)
STEEL_OUT = (52, 56, 66)

GOLD_HI = (255, 240, 130)
GOLD = (250, 200, 40)
GOLD_DK = (210, 140, 10)
GOLD_OUT = (120, 70, 0)


# ---------------------------------------------------------------------------
# Discs
# ---------------------------------------------------------------------------

def disc_mask(cx=8.0, cy=8.0, r=8.0, size=16):
    return mask_fn(size, size,
                   lambda x, y: math.hypot(x - cx, y - cy) <= r)


def tray_disc():
    """The disc under a tray letter: light all over, dark rim only."""
    cv = Canvas(16, 16)
    m = disc_mask()
    rim = edge_of(m)
    for (x, y) in m:
        dx, dy = x + 0.5 - 8, y + 0.5 - 8
        r = math.hypot(dx, dy)
        p = (dx + dy) / 11.3
        if (x, y) in rim:
            c = SILVER_RIM
        elif r < 1.6:
            c = HUB
        elif r < 2.7:
            c = HUB_RING
        elif p < -0.4:
            c = SILVER_1
        elif p < 0.3:
            c = SILVER_2
        else:
            c = SILVER_3
        cv.put(x, y, c)
    # a little rainbow sheen in the upper right, away from the letter
    for (x, y, c) in ((11, 3, SHEEN_A), (12, 4, SHEEN_B), (11, 2, SHEEN_C),
                      (12, 3, SHEEN_B), (13, 4, SHEEN_A), (13, 5, SHEEN_C)):
        cv.put(x, y, c)
    return cv


def menu_disc(size=16, hole=True):
    """A shiny disc with a see-through hole, for menus and tabs."""
    cv = Canvas(size, size)
    c0 = size / 2.0
    m = disc_mask(c0, c0, c0, size)
    rim = edge_of(m)
    for (x, y) in m:
        dx, dy = x + 0.5 - c0, y + 0.5 - c0
        r = math.hypot(dx, dy)
        a = math.atan2(dy, dx)
        if hole and r < 1.6:
            continue
        if (x, y) in rim:
            c = SILVER_RIM
        elif r < 2.6:
            c = STEEL_DK
        elif r < 3.4:
            c = HUB
        else:
            # two narrow rainbow glints on the up-right / down-left diagonal
            s = math.cos(2 * (a + math.pi / 4))
            if s > 0.86 and 3.4 <= r < c0 - 1.5:
                c = (SHEEN_A, SHEEN_C, SHEEN_B)[int(r - 3.4) % 3]
            elif dx + dy < -2:
                c = SILVER_1
            elif dx + dy < 3:
                c = SILVER_2
            else:
                c = SILVER_3
        cv.put(x, y, c)
    return cv


# ---------------------------------------------------------------------------
# Tray states
# ---------------------------------------------------------------------------

# Badges sit in the lower right corner, the star in the upper right; none of
# them may touch the letter box or the ring of pixels around it.

def free_of_letter(x, y):
    """True where a badge may paint: off the letter box and its ring."""
    return not (LETTER_X - 1 <= x <= LETTER_X + LETTER_W and
                LETTER_Y - 1 <= y <= LETTER_Y + LETTER_H)


CROSS_BADGE = [
    "#...#",
    "##.##",
    ".###.",
    "##.##",
    "#...#",
]

NOTE_BADGE = [
    "...o...",
    "..oGo..",
    "..oGGo.",
    "..oGoGo",
    "..oGo.o",
    "..oGo..",
    "ooogo..",
    "GGGGo..",
    "GGGo...",
]

CHECK_BADGE = [
    "......o",
    ".....oG",
    "....oGG",
    "...oGGo",
    "...oGgo",
    "oGoGgo.",
    "oGggo..",
    ".ogo...",
]

STAR_SHAPE = [
    "..s..",
    "..S..",
    "sSSSs",
    ".sSs.",
    ".s.s.",
]


def state_picture(i, star):
    cv = tray_disc()
    if i == 1:      # tray open: red cross
        m = mask_grid(CROSS_BADGE, '#', 11, 11)
        for (x, y) in m:
            cv.put(x, y, RED_DK if (x - 11) + (y - 11) >= 6 or
                   (x == 15 and y == 11) else RED)
    elif i == 2:    # audio CD: green note
        cv.grid(9, 7, NOTE_BADGE, {'G': GREEN, 'g': GREEN_DK,
                                   'o': GREEN_OUT})
    elif i == 3:    # data disc: green check mark
        cv.grid(9, 8, CHECK_BADGE, {'G': GREEN_HI, 'g': GREEN,
                                    'o': GREEN_OUT})
    if star:
        cv.grid(11, 0, STAR_SHAPE, {'s': STAR_DK, 'S': STAR})
    return cv


def draw_states(star):
    cv = Canvas(64, 16)
    for i in range(4):
        cv.blit(state_picture(i, star), 16 * i, 0)
    return cv


# ---------------------------------------------------------------------------
# Letters
# ---------------------------------------------------------------------------

GLYPHS = {
    'A': ["..##..", ".####.", "##..##", "##..##", "##..##", "######",
          "##..##", "##..##", "##..##"],
    'B': ["#####.", "##..##", "##..##", "##..##", "#####.", "##..##",
          "##..##", "##..##", "#####."],
    'C': [".####.", "##..##", "##....", "##....", "##....", "##....",
          "##....", "##..##", ".####."],
    'D': ["####..", "##.##.", "##..##", "##..##", "##..##", "##..##",
          "##..##", "##.##.", "####.."],
    'E': ["######", "##....", "##....", "##....", "#####.", "##....",
          "##....", "##....", "######"],
    'F': ["######", "##....", "##....", "##....", "#####.", "##....",
          "##....", "##....", "##...."],
    'G': [".####.", "##..##", "##....", "##....", "##.###", "##..##",
          "##..##", "##..##", ".#####"],
    'H': ["##..##", "##..##", "##..##", "##..##", "######", "##..##",
          "##..##", "##..##", "##..##"],
    'I': [".####.", "..##..", "..##..", "..##..", "..##..", "..##..",
          "..##..", "..##..", ".####."],
    'J': ["....##", "....##", "....##", "....##", "....##", "....##",
          "##..##", "##..##", ".####."],
    'K': ["##..##", "##..##", "##.##.", "####..", "###...", "####..",
          "##.##.", "##..##", "##..##"],
    'L': ["##....", "##....", "##....", "##....", "##....", "##....",
          "##....", "##....", "######"],
    'M': ["##...##", "###.###", "#######", "##.#.##", "##.#.##", "##...##",
          "##...##", "##...##", "##...##"],
    'N': ["##...##", "###..##", "###..##", "####.##", "##.####", "##..###",
          "##..###", "##...##", "##...##"],
    'O': [".####.", "##..##", "##..##", "##..##", "##..##", "##..##",
          "##..##", "##..##", ".####."],
    'P': ["#####.", "##..##", "##..##", "##..##", "#####.", "##....",
          "##....", "##....", "##...."],
    'Q': [".####.", "##..##", "##..##", "##..##", "##..##", "##..##",
          "##.###", ".####.", "....##"],
    'R': ["#####.", "##..##", "##..##", "##..##", "#####.", "####..",
          "##.##.", "##..##", "##..##"],
    'S': [".####.", "##..##", "##....", "###...", ".####.", "...###",
          "....##", "##..##", ".####."],
    'T': ["######", "..##..", "..##..", "..##..", "..##..", "..##..",
          "..##..", "..##..", "..##.."],
    'U': ["##..##", "##..##", "##..##", "##..##", "##..##", "##..##",
          "##..##", "##..##", ".####."],
    'V': ["##..##", "##..##", "##..##", "##..##", "##..##", ".####.",
          ".####.", "..##..", "..##.."],
    'W': ["##...##", "##...##", "##...##", "##...##", "##.#.##", "##.#.##",
          "#######", "###.###", "##...##"],
    'X': ["##..##", "##..##", ".####.", ".####.", "..##..", ".####.",
          ".####.", "##..##", "##..##"],
    'Y': ["##..##", "##..##", "##..##", ".####.", "..##..", "..##..",
          "..##..", "..##..", "..##.."],
    'Z': ["######", "....##", "...##.", "...##.", "..##..", ".##...",
          ".##...", "##....", "######"],
}


def glyph_pixels(letter):
    """Black pixels of a letter, in cell coordinates."""
    return mask_grid(GLYPHS[letter], '#', LETTER_X, LETTER_Y)


def draw_letters():
    """416x16 of 0 (black) / 1 (white) values."""
    bits = [[1] * 416 for _ in range(16)]
    for i in range(26):
        for (x, y) in glyph_pixels(chr(65 + i)):
            bits[y][16 * i + x] = 0
    return bits


# ---------------------------------------------------------------------------
# Menu pictures
# ---------------------------------------------------------------------------

def icon_close_tray():
    cv = menu_disc()
    plus = mask_grid(["..##..", "..##..", "######", "######", "..##..",
                      "..##.."], '#', 9, 9)
    paint(cv, ring_of(plus, True), GREEN_OUT)
    bevel(cv, plus, GREEN_HI, GREEN, GREEN_DK)
    return cv


def icon_eject():
    cv = menu_disc()
    sign = [
        "....o....",
        "...oBo...",
        "..oBBBo..",
        ".oBBBBBo.",
        "oBBBBBBBo",
        "ooooooooo",
        "oBBBBBBBo",
        "ooooooooo",
    ]
    # a light halo so the sign stands clear of the disc
    m = mask_grid(sign, 'o', 7, 8) | mask_grid(sign, 'B', 7, 8)
    paint(cv, ring_of(m), WHITE)
    cv.grid(7, 8, sign, {'o': (30, 34, 44), 'B': (90, 100, 120)})
    return cv


def icon_info():
    cv = Canvas(16, 16)
    m = disc_mask(8, 8, 7.8)
    rim = edge_of(m)
    for (x, y) in m:
        if (x, y) in rim:
            c = BLUE_OUT
        else:
            c = BLUE_HI if x + y < 9 else (BLUE if x + y < 19 else BLUE_DK)
        cv.put(x, y, c)
    cv.grid(0, 0, [
        "",
        "",
        "",
        "       ##",
        "       ##",
        "",
        "      ###",
        "       ##",
        "       ##",
        "       ##",
        "       ##",
        "      ####",
    ], {'#': WHITE})
    return cv


def icon_exit():
    cv = Canvas(16, 16)
    m = mask_fn(16, 16, lambda x, y:
                seg_dist(x, y, 4, 4, 12, 12) <= 1.55 or
                seg_dist(x, y, 12, 4, 4, 12) <= 1.55)
    paint(cv, ring_of(m), RED_OUT)
    bevel(cv, m, RED_HI, RED, RED_DK)
    return cv


def spanner_mask():
    ax, ay = 3.2, 12.8           # round end of the handle
    hx, hy = 10.8, 5.2           # centre of the head
    ux, uy = 1 / math.sqrt(2), -1 / math.sqrt(2)   # towards the jaws

    def inside(x, y):
        if seg_dist(x, y, ax, ay, hx, hy) <= 1.45:
            return True
        if math.hypot(x - hx, y - hy) <= 3.9:
            # cut the jaw opening: a slot from the head centre outwards
            rx, ry = x - hx, y - hy
            along = rx * ux + ry * uy
            across = -rx * uy + ry * ux
            if along > -0.6 and abs(across) < 1.3:
                return False
            return True
        return False
    return mask_fn(16, 16, inside)


def icon_spanner():
    cv = Canvas(16, 16)
    m = spanner_mask()
    paint(cv, ring_of(m), STEEL_OUT)
    bevel(cv, m, STEEL_HI, STEEL, STEEL_DK)
    return cv


def icon_question():
    cv = Canvas(16, 16)
    m = mask_grid([
        "",
        "      ####",
        "     ######",
        "    ###  ###",
        "    ##   ###",
        "         ###",
        "        ###",
        "       ###",
        "       ##",
        "       ##",
        "",
        "       ##",
        "       ##",
    ])
    paint(cv, ring_of(m), BLUE_OUT)
    bevel(cv, m, BLUE_HI, BLUE, BLUE_DK)
    return cv


NOTE_PAL = {'#': (24, 30, 60), 'h': (110, 120, 170)}


def icon_note():
    cv = Canvas(16, 16)
    cv.grid(0, 0, [
        "",
        "",
        "      #########",
        "      #########",
        "      #hhhhhh##",
        "      #      ##",
        "      #       #",
        "      #       #",
        "      #       #",
        "      #       #",
        "   ####    ####",
        "  #h###   #h###",
        "  #####   #####",
        "   ###     ###",
    ], NOTE_PAL)
    return cv


def icon_speed():
    cv = Canvas(16, 16)
    ink = (30, 30, 36)
    cv.grid(0, 0, [
        "",
        "          ###",
        "         ## ##",
        "            ##",
        "           ##",
        "          ##",
        "         #####",
        "",
        "##    ##",
        ".##  ##",
        "..####",
        "...##",
        "..####",
        ".##  ##",
        "##    ##",
    ], {'#': ink})
    # the small "2" in blue
    for y in range(0, 7):
        for x in range(9, 15):
            if cv.get(x, y) == ink:
                cv.put(x, y, BLUE_DK)
    return cv


MEDIA = dict(light=(110, 140, 210), mid=(50, 80, 160), dark=(30, 50, 120),
             outline=(16, 24, 64))


def media(mask):
    cv = Canvas(16, 16)
    bevel(cv, mask, MEDIA['light'], MEDIA['mid'], MEDIA['dark'],
          MEDIA['outline'])
    return cv


def tri_left(tip_x, base_x, half=4.6, cy=8.0):
    return lambda x, y: (tip_x <= x <= base_x and
                         abs(y - cy) <= half * (x - tip_x) / (base_x - tip_x))


def icon_stop():
    return media(mask_fn(16, 16, lambda x, y: 4 < x < 12 and 4 < y < 12))


def icon_prev():
    a = tri_left(1.0, 7.6)
    b = tri_left(7.0, 13.6)
    return media(mask_fn(16, 16, lambda x, y: a(x, y) or b(x, y)))


def icon_next():
    a = tri_left(1.0, 7.6)
    b = tri_left(7.0, 13.6)
    return media(mask_fn(16, 16, lambda x, y: a(15.0 - x + 1.0, y) or
                         b(15.0 - x + 1.0, y)))


def icon_pause():
    return media(mask_fn(16, 16, lambda x, y: 3 < y < 13 and
                         (4 < x < 7 or 9 < x < 12)))


def icon_play():
    f = tri_left(3.0, 11.6, 5.6)
    return media(mask_fn(16, 16, lambda x, y: f(17.0 - x, y)))


def icon_bolt():
    cv = Canvas(16, 16)
    pts = [(8.0, 0.6), (14.0, 0.6), (9.6, 6.0), (13.0, 6.0),
           (4.0, 15.4), (6.6, 8.6), (3.0, 8.6)]
    m = mask_fn(16, 16, lambda x, y: in_polygon(x, y, pts))
    paint(cv, ring_of(m), GOLD_OUT)
    bevel(cv, m, GOLD_HI, GOLD, GOLD_DK)
    return cv


def icon_folder_find():
    cv = Canvas(16, 16)
    cv.grid(0, 0, [
        "",
        "",
        "",
        " oooo",
        "oYYYYo",
        "oYyyyyoooooooo",
        "oyyyyyyyyyyyyo",
        "oyyyyyyyyyyyyo",
        "oyyyyyyyyyyyyo",
        "oyyyyyyyyyyyyo",
        "oyyyyyyyyyyyyo",
        "oyyyyyyyyyyyyo",
        "oddddddddddddo",
        "oooooooooooooo",
    ], {'o': (130, 90, 10), 'Y': (255, 236, 150), 'y': (248, 204, 80),
        'd': (210, 156, 40)})
    # magnifying glass: lens with a pale glass, dark handle
    cv.grid(6, 5, [
        "..kkkk...",
        ".kbbbbk..",
        "kbwbbbbk.",
        "kbwbbbbk.",
        "kbbbbbbk.",
        "kbbbbbbk.",
        ".kbbbbkk.",
        "..kkkkhhk",
        "......khhk",
        ".......khk",
        "........k",
    ], {'k': (30, 34, 44), 'b': (190, 220, 245), 'w': WHITE,
        'h': (100, 70, 40)})
    return cv


def icon_new():
    cv = Canvas(16, 16)
    cv.grid(0, 0, [
        "",
        "",
        "",
        " hhhhhhhhhhhhhh",
        "oOOOOOOOOOOOOOOd",
        "oW..W.WWW.W...Wd",
        "oWW.W.W...W...Wd",
        "oW.WW.WW..W.W.Wd",
        "oW..W.W...W.W.Wd",
        "oW..W.WWW..W.W.d",
        "oOOOOOOOOOOOOOOd",
        " dddddddddddddd",
    ], {'o': (232, 110, 0), 'O': (250, 130, 10), '.': (250, 130, 10),
        'h': (255, 178, 80), 'd': (190, 80, 0), 'W': WHITE})
    return cv


GEAR = [
    "",
    "      ####",
    "  ##  ####  ##",
    "  ############",
    "   ##########",
    "   ##########",
    " ######  ######",
    " #####    #####",
    " #####    #####",
    " ######  ######",
    "   ##########",
    "   ##########",
    "  ############",
    "  ##  ####  ##",
    "      ####",
]


def icon_gear():
    cv = Canvas(16, 16)
    m = mask_grid(GEAR)
    paint(cv, ring_of(m), STEEL_OUT)
    bevel(cv, m, STEEL_HI, STEEL, STEEL_DK)
    return cv


def draw_menu():
    pictures = [icon_close_tray(), icon_eject(), icon_info(), icon_exit(),
                icon_spanner(), icon_question(), icon_note(), icon_speed(),
                icon_stop(), icon_prev(), icon_next(), icon_pause(),
                icon_play(), icon_bolt(), icon_folder_find(), icon_new(),
                icon_gear()]
    cv = Canvas(16 * len(pictures), 16)
    for i, p in enumerate(pictures):
        cv.blit(p, 16 * i, 0)
    return cv


# ---------------------------------------------------------------------------
# Flags and tabs
# ---------------------------------------------------------------------------

UK_QUARTER_TL = ["WWBBBB", "RWWWBB", "BRRWWB", "BBBRRW"]
UK_QUARTER_TR = ["BBBBRR", "BBRRWW", "BRWWWB", "RWWBBB"]


def flag_uk():
    """16x12 Union flag drawn by hand; the red diagonals are offset as on
    the real flag (broad white uppermost next to the hoist)."""
    blue, white, red = (1, 36, 125), (250, 250, 250), (207, 20, 43)
    pal = {'B': blue, 'W': white, 'R': red}
    cv = Canvas(16, 12)
    for y in range(12):
        for x in range(16):
            if x in (7, 8) or y in (5, 6):
                c = red
            elif x in (6, 9) or y in (4, 7):
                c = white
            else:
                # the lower quarters are the upper ones turned half round
                qx, qy = (x, y) if y < 4 else (15 - x, 11 - y)
                rows = UK_QUARTER_TL if qx < 6 else UK_QUARTER_TR
                c = pal[rows[qy][qx if qx < 6 else qx - 10]]
            cv.put(x, y, c)
    return cv


def flag_russia():
    cv = Canvas(16, 12)
    for y in range(12):
        c = (250, 250, 250) if y < 4 else (0, 57, 166) if y < 8 \
            else (213, 43, 30)
        for x in range(16):
            cv.put(x, y, c)
    return cv


def framed(flag):
    """Greys the white parts of a flag's edge so they show on white menus."""
    cv = Canvas(flag.w, flag.h)
    for y in range(flag.h):
        for x in range(flag.w):
            c = flag.px[y][x]
            edge = x in (0, flag.w - 1) or y in (0, flag.h - 1)
            if edge and min(c) > 200:
                c = (180, 182, 190)
            cv.put(x, y, c)
    return cv


def draw_flags():
    cv = Canvas(32, 16)
    cv.blit(framed(flag_uk()), 0, 2)
    cv.blit(framed(flag_russia()), 16, 2)
    return cv


def icon_drive():
    cv = Canvas(16, 16)
    # a disc half way into the drive's slot
    cv.blit(menu_disc(14), 1, 0)
    cv.grid(0, 10, [
        ".oooooooooooooo.",
        "oWWWWWWWWWWWWWWo",
        "oWkkkkkkkkkkkkdo",
        "oWsssssssssgssdo",
        "oddddddddddddddo",
        ".oooooooooooooo.",
    ], {'o': (50, 54, 64), 'W': (245, 246, 248), 's': (200, 204, 212),
        'd': (140, 146, 158), 'k': (60, 64, 74), 'g': (40, 200, 60)})
    return cv


def draw_tabs():
    cv = Canvas(32, 16)
    cv.blit(icon_spanner(), 0, 0)
    cv.blit(icon_drive(), 16, 0)
    return cv


# ---------------------------------------------------------------------------
# Icons
# ---------------------------------------------------------------------------

GOLD_RAMP = [(0.00, (92, 52, 0)), (0.30, (170, 110, 10)),
             (0.55, (226, 168, 32)), (0.75, (250, 212, 80)),
             (0.90, (255, 238, 150)), (1.00, (255, 252, 226))]


def gold(t):
    t = max(0.0, min(1.0, t))
    t = round(t * 63) / 63.0          # 64 steps keep the palette small
    for (t0, c0), (t1, c1) in zip(GOLD_RAMP, GOLD_RAMP[1:]):
        if t <= t1:
            return lerp(c0, c1, (t - t0) / (t1 - t0))
    return GOLD_RAMP[-1][1]


def draw_app_icon():
    """32x32 golden disc: a bright bow-tie glint, faint tracks, a clear hub
    with a see-through hole, and a sparkle in the upper left."""
    cv = Canvas(32, 32)
    c = 16.0
    m = mask_fn(32, 32, lambda x, y: 3.2 <= math.hypot(x - c, y - c) <= 16)
    rim = edge_of(m)
    for (x, y) in m:
        dx, dy = x + 0.5 - c, y + 0.5 - c
        r = math.hypot(dx, dy)
        a = math.atan2(dy, dx)
        light = -(dx + dy) / 32.0                 # lit from the upper left
        if (x, y) in rim:
            t = 0.10 + 0.25 * light if r > 8 else 0.18 - 0.2 * light
        elif r < 4.3:
            t = 0.40 - 0.5 * light                # inner edge of the hole
        elif r < 7.6:
            # the clear hub with a moulded ring
            t = 0.74 + 0.30 * light
            if 5.4 < r < 6.3:
                t -= 0.20
            if r > 7.0:
                t = 0.30 + 0.2 * light            # start of the data area
        else:
            glint = max(0.0, math.cos(2 * (a - math.pi / 4))) ** 6
            t = 0.40 + 0.30 * light + 0.45 * glint
            t += 0.04 * math.cos(r * 2.3)         # tracks
            if r > 14.6:
                t += 0.10                         # the bright outer lip
        cv.put(x, y, gold(t))
    # a four-pointed sparkle on the darker side
    sx, sy = 22, 9
    for (x, y, col) in ((sx, sy, (255, 255, 246)),
                        (sx - 1, sy, (255, 250, 200)),
                        (sx + 1, sy, (255, 250, 200)),
                        (sx, sy - 1, (255, 250, 200)),
                        (sx, sy + 1, (255, 250, 200)),
                        (sx - 2, sy, gold(0.85)), (sx + 2, sy, gold(0.85)),
                        (sx, sy - 2, gold(0.85)), (sx, sy + 2, gold(0.85))):
        cv.put(x, y, col)
    return cv


def draw_busy_icon():
    """16x16 hourglass with alpha: wooden caps, glass, running sand."""
    cv = Canvas(16, 16)
    wood = {'w': (168, 104, 40, 255), 'W': (214, 150, 70, 255),
            'k': (70, 40, 10, 255)}
    glass = {'g': (214, 232, 250, 110), 'G': (250, 252, 255, 190),
             'e': (60, 80, 110, 230)}
    sand = {'s': (236, 180, 60, 255), 'S': (200, 140, 30, 255)}
    pal = dict(wood)
    pal.update(glass)
    pal.update(sand)
    cv.grid(0, 0, [
        "",
        " kkkkkkkkkkkkkk",
        " kWWWWWWWWWWWWk",
        " kwwwwwwwwwwwwk",
        "  ekkkkkkkkkke",
        "  eGgggggggge",
        "   eGsssssse",
        "    eSsssSe",
        "     eSSe",
        "     egSe",
        "    eGgsge",
        "   eGgssgge",
        "  eGgsssssge",
        "  essssSSSSse",
        " kkkkkkkkkkkkkk",
        " kWWWWWWWWWWWWk",
    ], pal)
    # bottom cap: darker underside row
    for x in range(2, 14):
        cv.put(x, 15, (150, 90, 30, 255))
    cv.put(1, 15, (70, 40, 10, 255))
    cv.put(14, 15, (70, 40, 10, 255))
    return cv


# ---------------------------------------------------------------------------
# File writers
# ---------------------------------------------------------------------------

def bmp24(cv):
    stride = (cv.w * 3 + 3) & ~3
    rows = []
    for y in range(cv.h - 1, -1, -1):
        row = bytearray()
        for x in range(cv.w):
            r, g, b = cv.rgb(x, y)
            row += bytes((b, g, r))
        row += b'\0' * (stride - len(row))
        rows.append(bytes(row))
    data = b''.join(rows)
    info = struct.pack('<IiiHHIIiiII', 40, cv.w, cv.h, 1, 24, 0, len(data),
                       2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(data), 0, 0, 54)
    return head + info + data


def bmp1(bits, w, h, palette=((0, 0, 0), (255, 255, 255))):
    stride = ((w + 31) // 32) * 4
    rows = []
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            if bits[y][x]:
                row[x >> 3] |= 0x80 >> (x & 7)
        rows.append(bytes(row))
    data = b''.join(rows)
    pal = b''.join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    off = 14 + 40 + len(pal)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 1, 0, len(data),
                       2835, 2835, 2, 2)
    head = struct.pack('<2sIHHI', b'BM', off + len(data), 0, 0, off)
    return head + info + pal + data


def and_mask(w, h, transparent):
    stride = ((w + 31) // 32) * 4
    out = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            if transparent(x, y):
                row[x >> 3] |= 0x80 >> (x & 7)
        out += row
    return bytes(out)


def ico(w, h, bpp, xor, mask, palette=b''):
    info = struct.pack('<IiiHHIIiiII', 40, w, 2 * h, 1, bpp, 0,
                       len(xor) + len(mask), 0, 0, 0, 0)
    image = info + palette + xor + mask
    head = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', w & 255, h & 255, 0, 0, 1, bpp,
                        len(image), 6 + 16)
    return head + entry + image


def ico8(cv):
    """256-colour icon; transparent pixels get index 0 (black) and mask 1."""
    colours = sorted({cv.px[y][x] for y in range(cv.h) for x in range(cv.w)
                      if cv.px[y][x] is not None})
    table = [BLACK] + [c for c in colours if c != BLACK]
    if len(table) > 256:
        raise SystemExit('app icon needs %d colours' % len(table))
    table += [BLACK] * (256 - len(table))
    index = {}
    for i, c in enumerate(table):
        index.setdefault(c, i)
    palette = b''.join(bytes((b, g, r, 0)) for (r, g, b) in table)
    stride = (cv.w + 3) & ~3
    xor = bytearray()
    for y in range(cv.h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(cv.w):
            c = cv.px[y][x]
            row[x] = 0 if c is None else index[c]
        xor += row
    mask = and_mask(cv.w, cv.h, lambda x, y: cv.px[y][x] is None)
    return ico(cv.w, cv.h, 8, bytes(xor), mask, palette)


def ico32(cv):
    xor = bytearray()
    for y in range(cv.h - 1, -1, -1):
        for x in range(cv.w):
            c = cv.px[y][x]
            if c is None:
                xor += b'\0\0\0\0'
            else:
                r, g, b, a = c
                xor += bytes((b, g, r, a))
    mask = and_mask(cv.w, cv.h, lambda x, y: cv.px[y][x] is None)
    return ico(cv.w, cv.h, 32, bytes(xor), mask)


def ico_blank24(w=16, h=16):
    xor = b'\0' * (((w * 3 + 3) & ~3) * h)
    mask = and_mask(w, h, lambda x, y: True)
    return ico(w, h, 24, xor, mask)


# ---------------------------------------------------------------------------
# The warning sound: a soft falling two-note chime
# ---------------------------------------------------------------------------

RATE = 22050


def chime_samples():
    length = 0.62
    n = int(RATE * length)
    notes = [(0.000, 987.77, 1.0),    # B5
             (0.160, 783.99, 0.9)]    # G5
    partials = [(1.0, 1.0, 1.0), (2.0, 0.28, 2.2), (3.0, 0.08, 3.5),
                (4.16, 0.05, 4.5)]    # ratio, level, extra damping
    out = []
    for i in range(n):
        t = i / RATE
        s = 0.0
        for (start, f, level) in notes:
            u = t - start
            if u < 0:
                continue
            attack = 0.012
            env = 0.5 - 0.5 * math.cos(math.pi * u / attack) \
                if u < attack else 1.0
            for ratio, amp, damp in partials:
                s += (level * amp * env * math.exp(-u * 6.5 * damp) *
                      math.sin(2 * math.pi * f * ratio * u))
        # fade the tail to silence so the end cannot click
        tail = length - t
        if tail < 0.08:
            s *= 0.5 - 0.5 * math.cos(math.pi * tail / 0.08)
        out.append(s)
    peak = max(abs(v) for v in out)
    scale = 0.45 * 32767 / peak
    return [int(round(v * scale)) for v in out]


def wav(samples):
    data = struct.pack('<%dh' % len(samples), *samples)
    fmt = struct.pack('<HHIIHH', 1, 1, RATE, RATE * 2, 2, 16)
    body = (b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt +
            b'data' + struct.pack('<I', len(data)) + data)
    return b'RIFF' + struct.pack('<I', len(body)) + body


# ---------------------------------------------------------------------------
# The larger sizes
# ---------------------------------------------------------------------------
#
# Displays above 100 % ask for 20, 24 and 32 pixel pictures.  Each is drawn
# here for its own size from shapes, with stroke widths and boxes chosen in
# whole pixels for that size; the 16 pixel pictures above stay hand-placed.

SIZES = (16, 20, 24, 32)
LARGER = SIZES[1:]

# Letter box (x, y, w, h) and stroke width inside a tray icon, by size.
LETTER_BOX = {16: (LETTER_X, LETTER_Y, LETTER_W, LETTER_H, 2),
              20: (4, 4, 8, 11, 2),
              24: (5, 5, 10, 13, 3),
              32: (6, 6, 14, 18, 4)}


def free_of_letter_at(s, x, y):
    lx, ly, lw, lh, _ = LETTER_BOX[s]
    return not (lx - 1 <= x <= lx + lw and ly - 1 <= y <= ly + lh)


def shape(s, inside):
    """Pixels of an s x s cell whose centre, in 16-unit design space,
    satisfies inside(x, y)."""
    k = s / 16.0
    return mask_fn(s, s, lambda x, y: inside(x / k, y / k))


def rect_in(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def seg_in(ax, ay, bx, by, half):
    return lambda x, y: seg_dist(x, y, ax, ay, bx, by) <= half


def any_of(*fs):
    return lambda x, y: any(f(x, y) for f in fs)


def cheb_seg(px, py, ax, ay, bx, by, samples=48):
    """Distance from a point to a segment in the max-norm: a square brush."""
    if ax == bx:
        lo, hi = min(ay, by), max(ay, by)
        return max(abs(px - ax), max(lo - py, py - hi, 0.0))
    if ay == by:
        lo, hi = min(ax, bx), max(ax, bx)
        return max(abs(py - ay), max(lo - px, px - hi, 0.0))
    best = 1e9
    for i in range(samples + 1):
        t = i / float(samples)
        qx, qy = ax + (bx - ax) * t, ay + (by - ay) * t
        best = min(best, max(abs(px - qx), abs(py - qy)))
    return best


# Strokes of each letter in a unit box (y down); M, N and W use the full
# width, the others six sevenths, as at 16 pixels.
STROKES = {
    'A': [[(0, 1), (0, .25), (.25, 0), (.75, 0), (1, .25), (1, 1)],
          [(0, .55), (1, .55)]],
    'B': [[(0, 0), (0, 1), (.75, 1), (1, .8), (1, .65), (.75, .5), (0, .5)],
          [(0, 0), (.75, 0), (1, .2), (1, .32), (.75, .5)]],
    'C': [[(1, .2), (.8, 0), (.2, 0), (0, .2), (0, .8), (.2, 1), (.8, 1),
           (1, .8)]],
    'D': [[(0, 0), (.6, 0), (1, .3), (1, .7), (.6, 1), (0, 1), (0, 0)]],
    'E': [[(1, 0), (0, 0), (0, 1), (1, 1)], [(0, .5), (.8, .5)]],
    'F': [[(1, 0), (0, 0), (0, 1)], [(0, .5), (.8, .5)]],
    'G': [[(1, .2), (.8, 0), (.2, 0), (0, .2), (0, .8), (.2, 1), (1, 1),
           (1, .5), (.55, .5)]],
    'H': [[(0, 0), (0, 1)], [(1, 0), (1, 1)], [(0, .5), (1, .5)]],
    'I': [[(.2, 0), (.8, 0)], [(.5, 0), (.5, 1)], [(.2, 1), (.8, 1)]],
    'J': [[(1, 0), (1, .8), (.8, 1), (.2, 1), (0, .8)]],
    'K': [[(0, 0), (0, 1)], [(1, 0), (0, .6)], [(.3, .42), (1, 1)]],
    'L': [[(0, 0), (0, 1), (1, 1)]],
    'M': [[(0, 1), (0, 0), (.5, .45), (1, 0), (1, 1)]],
    'N': [[(0, 1), (0, 0), (1, 1), (1, 0)]],
    'O': [[(.2, 0), (.8, 0), (1, .2), (1, .8), (.8, 1), (.2, 1), (0, .8),
           (0, .2), (.2, 0)]],
    'P': [[(0, 1), (0, 0), (.8, 0), (1, .2), (1, .35), (.8, .55), (0, .55)]],
    'Q': [[(.2, 0), (.8, 0), (1, .2), (1, .8), (.8, 1), (.2, 1), (0, .8),
           (0, .2), (.2, 0)], [(.6, .7), (1, 1)]],
    'R': [[(0, 1), (0, 0), (.8, 0), (1, .2), (1, .35), (.8, .55), (0, .55)],
          [(.5, .55), (1, 1)]],
    'S': [[(1, .15), (.85, 0), (.15, 0), (0, .15), (0, .35), (.15, .5),
           (.85, .5), (1, .65), (1, .85), (.85, 1), (.15, 1), (0, .85)]],
    'T': [[(0, 0), (1, 0)], [(.5, 0), (.5, 1)]],
    'U': [[(0, 0), (0, .8), (.2, 1), (.8, 1), (1, .8), (1, 0)]],
    'V': [[(0, 0), (0, .5), (.5, 1), (1, .5), (1, 0)]],
    'W': [[(0, 0), (0, 1), (.5, .55), (1, 1), (1, 0)]],
    'X': [[(0, 0), (1, 1)], [(1, 0), (0, 1)]],
    'Y': [[(0, 0), (.5, .5), (1, 0)], [(.5, .5), (.5, 1)]],
    'Z': [[(0, 0), (1, 0), (0, 1), (1, 1)]],
}


def stroke_text_pixels(letter, x0, y0, w, h, sw):
    """Pixels of a letter drawn with a square brush sw pixels wide inside
    the box (x0, y0, w, h)."""
    if letter not in 'MNW':
        w = max(sw * 2 + 1, int(round(w * 6 / 7.0)))
    half = sw / 2.0
    left, top = x0 + half, y0 + half
    span_x, span_y = w - sw, h - sw
    segs = []
    for line in STROKES[letter]:
        pts = [(left + px * span_x, top + py * span_y) for (px, py) in line]
        segs += list(zip(pts, pts[1:]))
    out = set()
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            cx, cy = x + 0.5, y + 0.5
            if any(cheb_seg(cx, cy, a[0], a[1], b[0], b[1]) < half + 0.01
                   for a, b in segs):
                out.add((x, y))
    return out


def glyph_pixels_at(letter, s):
    if s == 16:
        return glyph_pixels(letter)
    lx, ly, lw, lh, sw = LETTER_BOX[s]
    return stroke_text_pixels(letter, lx, ly, lw, lh, sw)


def draw_letters_at(s):
    bits = [[1] * (26 * s) for _ in range(s)]
    for i in range(26):
        for (x, y) in glyph_pixels_at(chr(65 + i), s):
            bits[y][s * i + x] = 0
    return bits


def tray_disc_at(s):
    cv = Canvas(s, s)
    c = s / 2.0
    k = s / 16.0
    m = disc_mask(c, c, c, s)
    rim = edge_of(m)
    for (x, y) in m:
        dx, dy = x + 0.5 - c, y + 0.5 - c
        r = math.hypot(dx, dy)
        p = (dx + dy) / (11.3 * k)
        if (x, y) in rim:
            col = SILVER_RIM
        elif r < 1.6 * k:
            col = HUB
        elif r < 2.7 * k:
            col = HUB_RING
        elif p < -0.4:
            col = SILVER_1
        elif p < 0.3:
            col = SILVER_2
        else:
            col = SILVER_3
        cv.put(x, y, col)
    # the sheen: a short arc in the upper right, off the letter and its ring
    sheen = (SHEEN_C, SHEEN_A, SHEEN_B)
    for (x, y) in m:
        dx, dy = x + 0.5 - c, y + 0.5 - c
        r = math.hypot(dx, dy) / c
        a = math.degrees(math.atan2(-dy, dx))
        if 0.55 <= r <= 0.85 and 35 <= a <= 60 and (x, y) not in rim and \
                free_of_letter_at(s, x, y):
            cv.put(x, y, sheen[int((r - 0.55) / 0.1) % 3])
    return cv


def state_picture_at(i, star, s):
    if s == 16:
        return state_picture(i, star)
    cv = tray_disc_at(s)
    k = s / 16.0
    lx, ly, lw, lh, sw = LETTER_BOX[s]
    right = lx + lw + 2                      # first column clear of the ring
    if i == 1:      # tray open: red cross in the lower right corner
        w = s - right
        x0, y0 = right, s - w
        half = max(1.0, sw / 2.0 * 0.9)
        m = mask_fn(s, s, lambda x, y: x0 <= x <= s and y0 <= y <= s and (
            seg_dist(x, y, x0 + half, y0 + half, s - half, s - half) <= half
            or seg_dist(x, y, s - half, y0 + half, x0 + half, s - half)
            <= half))
        for (x, y) in m:
            cv.put(x, y, RED_DK if (x - x0) + (y - y0) >= w + 1 else RED)
    elif i == 2:    # audio CD: green note
        top = int(round(7 * k))
        stem_x = s - int(round(2.5 * k)) - sw // 2 - 1
        head = mask_fn(s, s, lambda x, y: ((x - (stem_x - 1.2 * k)) /
                                             (2.1 * k)) ** 2 +
                       ((y - (s - 2.0 * k)) / (1.5 * k)) ** 2 <= 1)
        stem = mask_fn(s, s, lambda x, y: stem_x - 1 <= x <= stem_x + 1.0 and
                       top <= y <= s - 2 * k)
        flag = mask_fn(s, s, lambda x, y: seg_dist(
            x, y, stem_x + 0.5, top + 1.0 * k, s - 0.8 * k, top + 3.0 * k)
            <= 0.7 * k)
        m = {(x, y) for (x, y) in head | stem | flag
             if x >= right - 1 and free_of_letter_at(s, x, y)}
        paint(cv, {p for p in ring_of(m) if free_of_letter_at(s, *p)},
              GREEN_OUT)
        bevel(cv, m, GREEN, GREEN, GREEN_DK)
    elif i == 3:    # data disc: green check mark
        x0 = right
        y0 = int(round(8 * k))
        pts = [(x0 + 0.8 * k, s - 4.2 * k), (x0 + 2.4 * k, s - 1.6 * k),
               (s - 1.0 * k, y0 + 1.0 * k)]
        m = mask_fn(s, s, lambda x, y: (
            seg_dist(x, y, *pts[0], *pts[1]) <= 0.95 * k or
            seg_dist(x, y, *pts[1], *pts[2]) <= 0.95 * k))
        m = {p for p in m if free_of_letter_at(s, *p)}
        paint(cv, {p for p in ring_of(m) if free_of_letter_at(s, *p)},
              GREEN_OUT)
        bevel(cv, m, GREEN_HI, GREEN, GREEN)
    if star:
        cx, cy = s - 2.5 * k, 2.5 * k
        pts = []
        for j in range(10):
            a = -math.pi / 2 + j * math.pi / 5
            rr = 2.6 * k if j % 2 == 0 else 1.1 * k
            pts.append((cx + rr * math.cos(a), cy + rr * math.sin(a)))
        m = {p for p in mask_fn(s, s, lambda x, y: in_polygon(x, y, pts))
             if free_of_letter_at(s, *p)}
        for p in m:
            cv.put(p[0], p[1], STAR_DK if p in edge_of(m) else STAR)
    return cv


def draw_states_at(star, s):
    cv = Canvas(4 * s, s)
    for i in range(4):
        cv.blit(state_picture_at(i, star, s), s * i, 0)
    return cv


# -- menu pictures ----------------------------------------------------------

def beveled(s, inside, light, mid, dark, outline):
    cv = Canvas(s, s)
    m = shape(s, inside)
    paint(cv, ring_of(m), outline)
    bevel(cv, m, light, mid, dark)
    return cv


def menu_disc_at(s, hole=True):
    """menu_disc() with its radii in proportion for any size."""
    cv = Canvas(s, s)
    c0 = s / 2.0
    k = s / 16.0
    m = disc_mask(c0, c0, c0, s)
    rim = edge_of(m)
    for (x, y) in m:
        dx, dy = x + 0.5 - c0, y + 0.5 - c0
        r = math.hypot(dx, dy)
        a = math.atan2(dy, dx)
        if hole and r < 1.6 * k:
            continue
        if (x, y) in rim:
            c = SILVER_RIM
        elif r < 2.6 * k:
            c = STEEL_DK
        elif r < 3.4 * k:
            c = HUB
        else:
            s2 = math.cos(2 * (a + math.pi / 4))
            if s2 > 0.86 and 3.4 * k <= r < c0 - 1.5 * k:
                c = (SHEEN_A, SHEEN_C, SHEEN_B)[int((r - 3.4 * k) / k) % 3]
            elif dx + dy < -2 * k:
                c = SILVER_1
            elif dx + dy < 3 * k:
                c = SILVER_2
            else:
                c = SILVER_3
        cv.put(x, y, c)
    return cv


def close_tray_at(s):
    cv = menu_disc_at(s)
    plus = shape(s, any_of(rect_in(9.2, 11, 15.8, 13), rect_in(11.5, 9, 13.5,
                                                               15.8)))
    paint(cv, ring_of(plus, True), GREEN_OUT)
    bevel(cv, plus, GREEN_HI, GREEN, GREEN_DK)
    return cv


def eject_at(s):
    cv = menu_disc_at(s)
    tri = [(11.5, 8.2), (15.6, 12.4), (7.4, 12.4)]
    m = shape(s, any_of(lambda x, y: in_polygon(x, y, tri),
                        rect_in(7.4, 13.4, 15.6, 15.6)))
    paint(cv, ring_of(m), WHITE)
    for p in m:
        cv.put(p[0], p[1], (30, 34, 44) if p in edge_of(m) else
               (90, 100, 120))
    return cv


def info_at(s):
    cv = Canvas(s, s)
    k = s / 16.0
    m = disc_mask(s / 2.0, s / 2.0, 7.8 * k, s)
    rim = edge_of(m)
    for (x, y) in m:
        if (x, y) in rim:
            c = BLUE_OUT
        else:
            t = (x + y) / k
            c = BLUE_HI if t < 9 else (BLUE if t < 19 else BLUE_DK)
        cv.put(x, y, c)
    paint(cv, shape(s, any_of(rect_in(7, 3, 9, 5), rect_in(7, 6.2, 9, 12),
                              rect_in(6, 6.2, 9, 7.4),
                              rect_in(6, 11, 10, 12.2))), WHITE)
    return cv


def exit_at(s):
    return beveled(s, any_of(seg_in(4, 4, 12, 12, 1.55),
                             seg_in(12, 4, 4, 12, 1.55)),
                   RED_HI, RED, RED_DK, RED_OUT)


def spanner_at(s):
    k = s / 16.0
    m = spanner_mask_at(s)
    cv = Canvas(s, s)
    paint(cv, ring_of(m), STEEL_OUT)
    bevel(cv, m, STEEL_HI, STEEL, STEEL_DK)
    del k
    return cv


def spanner_mask_at(s):
    k = s / 16.0
    ax, ay = 3.2 * k, 12.8 * k
    hx, hy = 10.8 * k, 5.2 * k
    ux, uy = 1 / math.sqrt(2), -1 / math.sqrt(2)

    def inside(x, y):
        if seg_dist(x, y, ax, ay, hx, hy) <= 1.45 * k:
            return True
        if math.hypot(x - hx, y - hy) <= 3.9 * k:
            rx, ry = x - hx, y - hy
            along = rx * ux + ry * uy
            across = -rx * uy + ry * ux
            return not (along > -0.6 * k and abs(across) < 1.3 * k)
        return False
    return mask_fn(s, s, inside)


def question_at(s):
    cx, cy = 8.5, 5.4

    def hook(x, y):
        r = math.hypot(x - cx, y - cy)
        if not 1.7 <= r <= 3.9:
            return False
        return y <= cy or x >= cx
    return beveled(s, any_of(hook, seg_in(10.6, 7.6, 8.5, 9.4, 1.1),
                             rect_in(7.5, 9.2, 9.5, 10.6),
                             rect_in(7.5, 11.6, 9.5, 13.6)),
                   BLUE_HI, BLUE, BLUE_DK, BLUE_OUT)


def note_at(s):
    ink, hi = NOTE_PAL['#'], NOTE_PAL['h']
    k = s / 16.0
    cv = Canvas(s, s)

    def head(cx, cy):
        return lambda x, y: ((x - cx) / 2.3) ** 2 + ((y - cy) / 1.6) ** 2 <= 1
    m = shape(s, any_of(head(4.6, 12.2), head(12.2, 12.2),
                        rect_in(6.0, 2.0, 7.0, 12.0),
                        rect_in(13.6, 2.0, 14.6, 12.0),
                        rect_in(6.0, 2.0, 14.6, 4.2)))
    paint(cv, m, ink)
    paint(cv, shape(s, any_of(lambda x, y: math.hypot(x - 3.8, y - 11.6)
                              <= 0.7,
                              lambda x, y: math.hypot(x - 11.4, y - 11.6)
                              <= 0.7,
                              rect_in(7.2, 4.3, 13.4, 4.9))), hi)
    del k
    return cv


def speed_at(s):
    k = s / 16.0
    ink = (30, 30, 36)
    cv = Canvas(s, s)
    w = max(1.0, round(1.4 * k)) / k / 2
    paint(cv, shape(s, any_of(seg_in(0.8, 8.6, 7.4, 14.6, w),
                              seg_in(7.4, 8.6, 0.8, 14.6, w))), ink)
    t = max(1.0, round(k)) / k / 2
    two = [(9.6, 2.2), (10.6, 1.2), (12.6, 1.2), (13.5, 2.2), (13.5, 3.0),
           (9.8, 6.4), (14.0, 6.4)]
    paint(cv, shape(s, lambda x, y: any(
        seg_dist(x, y, a[0], a[1], b[0], b[1]) <= t
        for a, b in zip(two, two[1:]))), BLUE_DK)
    return cv


def media_at(s, inside):
    return beveled(s, inside, MEDIA['light'], MEDIA['mid'], MEDIA['dark'],
                   MEDIA['outline'])


def stop_at(s):
    return media_at(s, lambda x, y: 4 < x < 12 and 4 < y < 12)


def prev_at(s):
    a, b = tri_left(1.0, 7.6), tri_left(7.0, 13.6)
    return media_at(s, lambda x, y: a(x, y) or b(x, y))


def next_at(s):
    a, b = tri_left(1.0, 7.6), tri_left(7.0, 13.6)
    return media_at(s, lambda x, y: a(16.0 - x, y) or b(16.0 - x, y))


def pause_at(s):
    return media_at(s, lambda x, y: 3 < y < 13 and (4 < x < 7 or 9 < x < 12))


def play_at(s):
    f = tri_left(3.0, 11.6, 5.6)
    return media_at(s, lambda x, y: f(17.0 - x, y))


def bolt_at(s):
    pts = [(8.0, 0.6), (14.0, 0.6), (9.6, 6.0), (13.0, 6.0),
           (4.0, 15.4), (6.6, 8.6), (3.0, 8.6)]
    return beveled(s, lambda x, y: in_polygon(x, y, pts),
                   GOLD_HI, GOLD, GOLD_DK, GOLD_OUT)


def folder_find_at(s):
    cv = Canvas(s, s)
    edge, light, body, dark = (130, 90, 10), (255, 236, 150), \
        (248, 204, 80), (210, 156, 40)
    m = shape(s, any_of(rect_in(0.3, 5.0, 14.0, 14.0),
                        rect_in(0.3, 3.2, 6.0, 5.2)))
    rim = edge_of(m)
    k = s / 16.0
    for (x, y) in m:
        yy = y / k
        c = edge if (x, y) in rim else light if yy < 5.4 else \
            dark if yy > 12.4 else body
        cv.put(x, y, c)
    glass = shape(s, lambda x, y: math.hypot(x - 9.6, y - 8.6) <= 3.2)
    ring = shape(s, lambda x, y: 3.2 < math.hypot(x - 9.6, y - 8.6) <= 4.2)
    handle = shape(s, seg_in(12.6, 11.6, 15.0, 14.0, 1.0))
    paint(cv, handle, (100, 70, 40))
    paint(cv, ring, (30, 34, 44))
    paint(cv, glass, (190, 220, 245))
    paint(cv, shape(s, lambda x, y: math.hypot(x - 8.4, y - 7.4) <= 0.9),
          WHITE)
    return cv


def new_at(s):
    k = s / 16.0
    cv = Canvas(s, s)
    top, bottom = int(round(3 * k)), int(round(12 * k))
    for y in range(top, bottom):
        for x in range(s):
            edge_x = x in (0, s - 1)
            if (y == top or y == bottom - 1) and edge_x:
                continue
            c = (255, 178, 80) if y == top else (190, 80, 0) \
                if y == bottom - 1 or x == s - 1 else (232, 110, 0) \
                if x == 0 else (250, 130, 10)
            cv.put(x, y, c)
    sw = 1 if s < 32 else 2
    h = bottom - top - 2 * int(round(1.2 * k)) - (0 if s < 24 else 1)
    y0 = top + (bottom - top - h) // 2
    widths = {'N': int(round(4 * k)), 'E': int(round(3.2 * k)),
              'W': int(round(5 * k))}
    gap = max(1, int(round(k)))
    total = sum(widths.values()) + 2 * gap
    x = (s - total) // 2
    for letter in 'NEW':
        w = widths[letter]
        box_w = w if letter in 'MNW' else int(math.ceil(w * 7 / 6.0))
        paint(cv, stroke_text_pixels(letter, x, y0, box_w, h, sw), WHITE)
        x += w + gap
    return cv


def gear_at(s):
    def inside(x, y):
        dx, dy = x - 8.0, y - 8.0
        r = math.hypot(dx, dy)
        if r < 2.1:
            return False
        if r <= 5.3:
            return True
        if r > 7.3:
            return False
        a = (math.degrees(math.atan2(dy, dx)) + 360 + 22.5) % 45
        return abs(a - 22.5) <= 9.5 - r * 0.6
    return beveled(s, inside, STEEL_HI, STEEL, STEEL_DK, STEEL_OUT)


def menu_pictures_at(s):
    if s == 16:
        return draw_menu()
    makers = [close_tray_at, eject_at, info_at, exit_at, spanner_at,
              question_at, note_at, speed_at, stop_at, prev_at, next_at,
              pause_at, play_at, bolt_at, folder_find_at, new_at, gear_at]
    cv = Canvas(s * len(makers), s)
    for i, make in enumerate(makers):
        cv.blit(make(s), s * i, 0)
    return cv


# -- flags and tabs ---------------------------------------------------------

def flag_uk_at(w, h):
    blue, white, red = (1, 36, 125), (250, 250, 250), (207, 20, 43)
    cv = Canvas(w, h)
    sx, sy = w / 60.0, h / 30.0           # the flag's own 60 x 30 grid

    for y in range(h):
        for x in range(w):
            u, v = (x + 0.5) / sx, (y + 0.5) / sy
            c = blue
            # diagonals: white 6 wide, red 2 wide, offset clockwise
            d1 = (u / 2.0 - v)                 # 0 on the main diagonal
            d2 = ((60 - u) / 2.0 - v)
            if abs(d1) * 2 / math.sqrt(5) * 2 <= 3 or \
                    abs(d2) * 2 / math.sqrt(5) * 2 <= 3:
                c = white
            up = (u < 30) == (v < 15)
            if (up and 0 <= (d1 if u < 30 else -d1) <= 1.2) or \
                    (not up and 0 <= (-d2 if u < 30 else d2) <= 1.2):
                c = red
            if abs(u - 30) <= 5 or abs(v - 15) <= 5:
                c = white
            if abs(u - 30) <= 3 or abs(v - 15) <= 3:
                c = red
            cv.put(x, y, c)
    return cv


def flag_russia_at(w, h):
    cv = Canvas(w, h)
    for y in range(h):
        band = 3 * y // h
        c = ((250, 250, 250), (0, 57, 166), (213, 43, 30))[band]
        for x in range(w):
            cv.put(x, y, c)
    return cv


def draw_flags_at(s):
    if s == 16:
        return draw_flags()
    h = int(round(s * 0.75))
    cv = Canvas(2 * s, s)
    cv.blit(framed(flag_uk_at(s, h)), 0, (s - h) // 2)
    cv.blit(framed(flag_russia_at(s, h)), s, (s - h) // 2)
    return cv


def drive_at(s):
    k = s / 16.0
    cv = Canvas(s, s)
    d = int(round(14 * k))
    cv.blit(menu_disc_at(d), (s - d) // 2, 0)
    top = s - int(round(6 * k))
    lip = int(round(2 * k))
    for y in range(top, s):
        for x in range(s):
            if (x in (0, s - 1)) and y in (top, s - 1):
                continue
            if x in (0, s - 1) or y in (top, s - 1):
                c = (50, 54, 64)
            elif y == top + 1:
                c = (245, 246, 248)
            elif y < top + lip + 1:
                c = (60, 64, 74)
            elif y == s - 2:
                c = (140, 146, 158)
            else:
                c = (200, 204, 212)
            cv.put(x, y, c)
    led_y = s - 3 if s - 3 > top + lip else s - 2
    cv.put(s - 4, led_y, (40, 200, 60))
    cv.put(s - 5, led_y, (40, 200, 60))
    return cv


def draw_tabs_at(s):
    if s == 16:
        return draw_tabs()
    cv = Canvas(2 * s, s)
    cv.blit(spanner_at(s), 0, 0)
    cv.blit(drive_at(s), s, 0)
    return cv


# -- icons ------------------------------------------------------------------

def app_icon_at(s):
    """The golden disc for any size, 32-bit: sizes up to 32 keep hard edges
    like the 256-colour original, larger ones fade their edges in alpha."""
    cv = Canvas(s, s)
    k = s / 32.0
    c = s / 2.0
    outer, inner = 16 * k, 3.2 * k
    smooth = s > 32
    for y in range(s):
        for x in range(s):
            dx, dy = x + 0.5 - c, y + 0.5 - c
            r = math.hypot(dx, dy)
            if smooth:
                alpha = max(0.0, min(1.0, outer - r + 0.5)) * \
                    max(0.0, min(1.0, r - inner + 0.5))
            else:
                alpha = 1.0 if inner <= r <= outer else 0.0
            if int(round(255 * alpha)) == 0:
                continue
            a = math.atan2(dy, dx)
            light = -(dx + dy) / (32.0 * k)
            rim = r > outer - 1.0 or r < inner + 1.0
            if rim:
                t = 0.10 + 0.25 * light if r > 8 * k else 0.18 - 0.2 * light
            elif r < 4.3 * k:
                t = 0.40 - 0.5 * light
            elif r < 7.6 * k:
                t = 0.74 + 0.30 * light
                if 5.4 * k < r < 6.3 * k:
                    t -= 0.20
                if r > 7.0 * k:
                    t = 0.30 + 0.2 * light
            else:
                glint = max(0.0, math.cos(2 * (a - math.pi / 4))) ** 6
                t = 0.40 + 0.30 * light + 0.45 * glint
                t += 0.04 * math.cos(r / k * 2.3)
                if r > 14.6 * k:
                    t += 0.10
            cv.put(x, y, gold(t) + (int(round(255 * alpha)),))
    if s >= 24:
        sx, sy = int(round(22.5 * k - 0.5)), int(round(9.5 * k - 0.5))
        arm = max(2, int(round(2 * k)))
        for j in range(-arm, arm + 1):
            col = (255, 255, 246) if j == 0 else (255, 250, 200) \
                if abs(j) < arm else gold(0.85)
            cv.put(sx + j, sy, col + (255,))
            cv.put(sx, sy + j, col + (255,))
    return cv


def app_icon_32_from_16px_era():
    """The 32 pixel picture exactly as the 256-colour icon had it."""
    old = draw_app_icon()
    cv = Canvas(32, 32)
    for y in range(32):
        for x in range(32):
            c = old.px[y][x]
            if c is not None:
                cv.put(x, y, c + (255,))
    return cv


def busy_at(s):
    if s == 16:
        return draw_busy_icon()
    cv = Canvas(s, s)
    wood_dk, wood, wood_hi = (70, 40, 10, 255), (168, 104, 40, 255), \
        (214, 150, 70, 255)
    k = s / 16.0
    cap = max(2, int(round(2 * k)))
    glass_edge = (60, 80, 110, 230)

    def cap_at(y0):
        for y in range(y0, y0 + cap + 1):
            for x in range(int(round(1 * k)), s - int(round(1 * k))):
                edge = y == y0 or x in (int(round(1 * k)),
                                        s - int(round(1 * k)) - 1)
                cv.put(x, y, wood_dk if edge else
                       wood_hi if y == y0 + 1 else wood)
    top, bottom = cap + 1, s - cap - 2
    mid = (top + bottom) / 2.0
    half = (s - 4 * k) / 2.0
    for y in range(top, bottom + 1):
        t = abs(y + 0.5 - mid) / (bottom + 0.5 - mid)
        w = max(0.6 * k, half * t)
        for x in range(s):
            d = abs(x + 0.5 - s / 2.0)
            if d > w + 0.5:
                continue
            if d > w - 0.7:
                cv.put(x, y, glass_edge)
            elif (y < mid and t < 0.75) or (y > mid and t > 0.3):
                cv.put(x, y, (236, 180, 60, 255))
            else:
                cv.put(x, y, (214, 232, 250, 110))
    cap_at(0)
    cap_at(s - cap - 1)
    return cv


def ico_multi(pictures):
    """An icon file holding one 32-bit picture per size."""
    images = []
    for cv in pictures:
        xor = bytearray()
        for y in range(cv.h - 1, -1, -1):
            for x in range(cv.w):
                c = cv.px[y][x]
                if c is None:
                    xor += b'\0\0\0\0'
                else:
                    r, g, b, a = c
                    xor += bytes((b, g, r, a))
        mask = and_mask(cv.w, cv.h, lambda x, y, cv=cv: cv.px[y][x] is None)
        info = struct.pack('<IiiHHIIiiII', 40, cv.w, 2 * cv.h, 1, 32, 0,
                           len(xor) + len(mask), 0, 0, 0, 0)
        images.append((cv.w, info + bytes(xor) + mask))
    head = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b''
    for w, image in images:
        entries += struct.pack('<BBBBHHII', w & 255, w & 255, 0, 0, 1, 32,
                               len(image), offset)
        offset += len(image)
    return head + entries + b''.join(image for _, image in images)


# ---------------------------------------------------------------------------
# Everything together
# ---------------------------------------------------------------------------

def build():
    """Returns {file name: (bytes, picture or None)}."""
    states = draw_states(False)
    states_def = draw_states(True)
    letters = draw_letters()
    menu = draw_menu()
    flags = draw_flags()
    tabs = draw_tabs()
    app = draw_app_icon()
    busy = draw_busy_icon()
    built = {
        'states.bmp': (bmp24(states), states),
        'states_default.bmp': (bmp24(states_def), states_def),
        'letters.bmp': (bmp1(letters, 416, 16), letters),
        'menu.bmp': (bmp24(menu), menu),
        'flags.bmp': (bmp24(flags), flags),
        'tabs.bmp': (bmp24(tabs), tabs),
        'template.ico': (ico_blank24(), None),
        'diskinside.wav': (wav(chime_samples()), None),
    }
    for s in LARGER:
        pictures = {
            'states': draw_states_at(False, s),
            'states_default': draw_states_at(True, s),
            'menu': menu_pictures_at(s),
            'flags': draw_flags_at(s),
            'tabs': draw_tabs_at(s),
        }
        for name, cv in pictures.items():
            built['%s_%d.bmp' % (name, s)] = (bmp24(cv), cv)
        bits = draw_letters_at(s)
        built['letters_%d.bmp' % s] = (bmp1(bits, 26 * s, s), bits)
    apps = [app_icon_at(s) if s != 32 else app_icon_32_from_16px_era()
            for s in APP_ICON_SIZES]
    built['app.ico'] = (ico_multi(apps), apps)
    busies = [busy_at(s) for s in SIZES]
    built['busy.ico'] = (ico_multi(busies), busies)
    del app, busy
    return built


APP_ICON_SIZES = (16, 20, 24, 32, 48, 64, 256)


# ---------------------------------------------------------------------------
# Preview
# ---------------------------------------------------------------------------

def png(path, w, h, pixel):
    raw = bytearray()
    for y in range(h):
        raw.append(0)
        for x in range(w):
            raw += bytes(pixel(x, y))

    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data +
                struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff))
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n')
        f.write(chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)))
        f.write(chunk(b'IDAT', zlib.compress(bytes(raw), 9)))
        f.write(chunk(b'IEND', b''))


def checker(x, y, cell=4):
    return (204, 204, 204) if ((x // cell) + (y // cell)) % 2 else \
        (244, 244, 244)


def preview_canvas(path, cv, scale=8):
    def pixel(x, y):
        c = cv.px[y // scale][x // scale]
        if c is None:
            return checker(x, y)
        if len(c) == 4:
            a = c[3] / 255.0
            bg = checker(x, y)
            return tuple(int(round(c[i] * a + bg[i] * (1 - a)))
                         for i in range(3))
        return c
    png(path, cv.w * scale, cv.h * scale, pixel)


def compose(state, letter):
    """A tray icon: state picture, then the black pixels of the letter."""
    cv = Canvas(16, 16)
    cv.blit(state, 0, 0)
    for (x, y) in glyph_pixels(letter):
        cv.put(x, y, BLACK)
    return cv


def tray_sheet(path, letters, scale, backgrounds):
    """Rows: letters; columns: 8 states per background colour."""
    pictures = [state_picture(i, star) for star in (False, True)
                for i in range(4)]
    pad = 2 * scale
    cols = len(pictures) * len(backgrounds)
    w = cols * (16 * scale + pad) + pad
    h = len(letters) * (16 * scale + pad) + pad
    img = [[(128, 128, 128)] * w for _ in range(h)]
    for r, letter in enumerate(letters):
        for b, bg in enumerate(backgrounds):
            for i, p in enumerate(pictures):
                icon = compose(p, letter)
                col = b * len(pictures) + i
                ox = pad + col * (16 * scale + pad)
                oy = pad + r * (16 * scale + pad)
                for y in range(16 * scale):
                    for x in range(16 * scale):
                        c = icon.px[y // scale][x // scale]
                        img[oy + y][ox + x] = bg if c is None else c
    png(path, w, h, lambda x, y: img[y][x])


def wrapped(cv, per_row, gap=1):
    """Lays the 16x16 pictures of a strip out in rows, for viewing."""
    n = cv.w // 16
    rows = (n + per_row - 1) // per_row
    out = Canvas(per_row * (16 + gap), rows * (16 + gap))
    for i in range(n):
        ox, oy = (i % per_row) * (16 + gap), (i // per_row) * (16 + gap)
        for y in range(16):
            for x in range(16):
                out.put(ox + x, oy + y, cv.px[y][16 * i + x])
        for k in range(16 + gap):
            for (x, y) in ((ox + 16, oy + k), (ox + k, oy + 16)):
                if gap:
                    out.put(x, y, (255, 0, 255))
    return out


def write_preview(d, built):
    os.makedirs(d, exist_ok=True)
    preview_canvas(os.path.join(d, 'menu_grid.png'),
                   wrapped(built['menu.bmp'][1], 6), 10)
    for name in ('states.bmp', 'states_default.bmp', 'menu.bmp',
                 'flags.bmp', 'tabs.bmp'):
        preview_canvas(os.path.join(d, name[:-4] + '.png'), built[name][1])
    bits = built['letters.bmp'][1]
    lc = Canvas(416, 16)
    for y in range(16):
        for x in range(416):
            lc.put(x, y, WHITE if bits[y][x] else BLACK)
    preview_canvas(os.path.join(d, 'letters.png'), lc, 4)
    preview_canvas(os.path.join(d, 'app.png'), built['app.ico'][1], 8)
    preview_canvas(os.path.join(d, 'busy.png'), built['busy.ico'][1], 8)
    both = Canvas(64, 34)
    both.blit(built['states.bmp'][1], 0, 0)
    both.blit(built['states_default.bmp'][1], 0, 18)
    preview_canvas(os.path.join(d, 'states_both.png'), both, 12)
    wave_preview(os.path.join(d, 'wave.png'), chime_samples())
    taskbar = [(20, 30, 50), (240, 240, 240), (0, 84, 160)]
    tray_sheet(os.path.join(d, 'tray_sheet.png'), 'ADEMWZ', 6, taskbar[:2])
    tray_sheet(os.path.join(d, 'tray_all_dark.png'),
               'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 3, taskbar[:1])
    tray_sheet(os.path.join(d, 'tray_actual.png'),
               'ABCDEFGHIJKLMNOPQRSTUVWXYZ', 1, taskbar)


def wave_preview(path, samples, w=1000, h=200):
    """The chime's waveform, min/max per column, with a full-scale frame."""
    per = len(samples) / float(w)
    spans = []
    for x in range(w):
        part = samples[int(x * per):max(int((x + 1) * per), int(x * per) + 1)]
        spans.append((min(part), max(part)))

    def pixel(x, y):
        lo, hi = spans[x]
        v = (h / 2.0 - y) / (h / 2.0) * 32767
        if y in (0, h - 1) or y == h // 2:
            return (160, 160, 160)
        if lo <= v <= hi:
            return (20, 60, 160)
        return (250, 250, 250)
    png(path, w, h, pixel)


# ---------------------------------------------------------------------------
# Self-check of the written files
# ---------------------------------------------------------------------------

class Bad(Exception):
    pass


def need(cond, what):
    if not cond:
        raise Bad(what)


def read_bmp(path):
    """Returns (width, height, bpp, palette, rows top-down of values)."""
    data = open(path, 'rb').read()
    need(len(data) >= 54 and data[:2] == b'BM', 'not a BMP')
    size, _, _, off = struct.unpack_from('<IHHI', data, 2)
    need(size == len(data), 'file size field %d, file %d' % (size, len(data)))
    (hsize, w, h, planes, bpp, comp, isize, _, _, used,
     _) = struct.unpack_from('<IiiHHIIiiII', data, 14)
    need(hsize == 40, 'header is not BITMAPINFOHEADER')
    need(h > 0, 'not bottom-up')
    need(planes == 1 and comp == 0, 'planes/compression')
    palette = []
    if bpp <= 8:
        count = used or (1 << bpp)
        for i in range(count):
            b, g, r, _ = data[54 + 4 * i:58 + 4 * i]
            palette.append((r, g, b))
    need(off == 54 + 4 * len(palette), 'pixel offset')
    stride = ((w * bpp + 31) // 32) * 4
    need(len(data) == off + stride * h, 'pixel data size')
    need(isize in (0, stride * h), 'biSizeImage')
    rows = []
    for y in range(h):
        base = off + (h - 1 - y) * stride
        line = data[base:base + stride]
        if bpp == 24:
            rows.append([(line[3 * x + 2], line[3 * x + 1], line[3 * x])
                         for x in range(w)])
        elif bpp == 1:
            rows.append([(line[x >> 3] >> (7 - (x & 7))) & 1
                         for x in range(w)])
        else:
            raise Bad('unexpected bit depth %d' % bpp)
    return w, h, bpp, palette, rows


def near_key(c):
    return c != KEY and sum(abs(c[i] - KEY[i]) for i in range(3)) < 48


def check_strip(path, w, h, cells, expect, keep=None):
    """Sizes, bit depth, and the cyan background: every pixel the drawing
    leaves empty must be exactly cyan, every drawn pixel must not be, and
    nothing may be almost cyan.  The pictures are h pixels square."""
    fw, fh, bpp, _, rows = read_bmp(path)
    need((fw, fh, bpp) == (w, h, 24),
         'size %dx%d %d bpp, want %dx%d 24' % (fw, fh, bpp, w, h))
    if keep is not None:
        keep.append(rows)
    for y in range(h):
        for x in range(w):
            c = rows[y][x]
            need(not near_key(c), 'pixel %d,%d %r is nearly cyan' % (x, y, c))
            if expect.px[y][x] is None:
                need(c == KEY, 'background pixel %d,%d is %r, not cyan'
                     % (x, y, c))
            else:
                need(c != KEY, 'picture pixel %d,%d is cyan' % (x, y))
    for i in range(cells):
        x0 = h * i
        drawn = sum(rows[y][x] != KEY for y in range(h)
                    for x in range(x0, x0 + h))
        need(drawn >= 20, 'picture %d is (nearly) empty' % i)
        need(drawn < h * h, 'picture %d has no cyan background' % i)
        need(KEY in (rows[0][x0], rows[0][x0 + h - 1], rows[h - 1][x0],
                     rows[h - 1][x0 + h - 1]),
             'picture %d: no corner is background' % i)
    return rows


def luminance(c):
    return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2]


def check_letters(path, states_rows_list, s=16):
    w, h, bpp, pal, rows = read_bmp(path)
    need((w, h, bpp) == (26 * s, s, 1), 'letters: %dx%d %d bpp' % (w, h, bpp))
    lx, ly, lw, lh, _ = LETTER_BOX[s]
    need(pal[:2] == [(0, 0, 0), (255, 255, 255)],
         'letters: palette must be black, white')
    seen = set()
    for i in range(26):
        black = frozenset((x, y) for y in range(s) for x in range(s)
                          if rows[y][s * i + x] == 0)
        need(len(black) >= 15, 'letter %c is nearly empty' % (65 + i))
        need(black not in seen, 'letter %c repeats another' % (65 + i))
        seen.add(black)
        for (x, y) in black:
            need(lx <= x < lx + lw and ly <= y < ly + lh,
                 'letter %c leaves its box at %d,%d' % (65 + i, x, y))
        need(black == frozenset(glyph_pixels_at(chr(65 + i), s)),
             'letter %c differs from the drawing' % (65 + i))
        # the letter must stand on the light part of every state picture:
        # each white pixel touching the glyph shows a light, opaque colour
        halo = ring_of(set(black)) - set(black)
        for n, srows in enumerate(states_rows_list):
            for (x, y) in black:
                for k in range(4):
                    need(srows[y][s * k + x] != KEY,
                         'letter %c on state %d/%d: pixel %d,%d is off the '
                         'disc' % (65 + i, n, k, x, y))
            for (x, y) in halo:
                for k in range(4):
                    c = srows[y][s * k + x]
                    need(c != KEY and luminance(c) >= 150,
                         'letter %c on state %d/%d: pixel %d,%d is %r, '
                         'too dark to read the letter against'
                         % (65 + i, n, k, x, y, c))


def check_badges(states_rows_list, size=16):
    """Badges and the star must keep off the letter box and its ring, so
    that they never touch a letter."""
    plain = [row[0:size] for row in states_rows_list[0]]
    for s, srows in enumerate(states_rows_list):
        for k in range(4):
            changed = [(x, y) for y in range(size) for x in range(size)
                       if srows[y][size * k + x] != plain[y][x]]
            if s == 0 and k == 0:
                continue
            need(len(changed) >= 5, 'state %d/%d has no badge' % (s, k))
            for (x, y) in changed:
                need(free_of_letter_at(size, x, y),
                     'state %d/%d: badge pixel %d,%d is too close to the '
                     'letter' % (s, k, x, y))


def read_ico(path):
    """Returns one (width, bpp, palette, xor rows, mask rows) per picture."""
    data = open(path, 'rb').read()
    need(len(data) >= 22, 'too short')
    res, typ, count = struct.unpack_from('<HHH', data, 0)
    need((res, typ) == (0, 1) and count >= 1, 'not an icon')
    out = []
    end = 6 + 16 * count
    for n in range(count):
        bw, bh, ncol, _, planes, bits, size, off = \
            struct.unpack_from('<BBBBHHII', data, 6 + 16 * n)
        need(off == end and off + size <= len(data), 'entry size/offset')
        end = off + size
        (hsize, w, h2, p2, bpp, comp, isize, _, _, used,
         _) = struct.unpack_from('<IiiHHIIiiII', data, off)
        need(hsize == 40, 'BITMAPINFOHEADER')
        need(h2 == 2 * w and bw == w & 255 and bh == w & 255,
             'height must be twice the width')
        need(p2 == 1 and comp == 0 and bits == bpp and planes == 1,
             'planes/compression/bit count')
        ncolours = (used or 256) if bpp == 8 else 0
        need(ncol == 0, 'bColorCount must be 0 here')
        pal_off = off + 40
        xor_off = pal_off + 4 * ncolours
        xstride = ((w * bpp + 31) // 32) * 4
        astride = ((w + 31) // 32) * 4
        and_off = xor_off + xstride * w
        need(and_off + astride * w == off + size, 'XOR + AND sizes')
        need(isize in (0, xstride * w + astride * w), 'biSizeImage')
        mask = []
        for y in range(w):
            line = data[and_off + (w - 1 - y) * astride:][:astride]
            mask.append([(line[x >> 3] >> (7 - (x & 7))) & 1
                         for x in range(w)])
        xor = []
        for y in range(w):
            xor.append(data[xor_off + (w - 1 - y) * xstride:][:xstride])
        palette = [tuple(data[pal_off + 4 * i + 2 - k] for k in range(3))
                   for i in range(ncolours)]
        out.append((w, bpp, palette, xor, mask))
    need(end == len(data), 'trailing bytes')
    return out


def check_alpha(name, w, xor, mask, real=True):
    alphas = set()
    for y in range(w):
        for x in range(w):
            a = xor[y][4 * x + 3]
            alphas.add(a)
            need((a == 0) == (mask[y][x] == 1),
                 '%s %d: AND mask disagrees with alpha at %d,%d'
                 % (name, w, x, y))
    need(0 in alphas and 255 in alphas, '%s %d: no alpha' % (name, w))
    if real:
        need(any(0 < a < 255 for a in alphas),
             '%s %d: alpha is not real' % (name, w))


def check_icons():
    pictures = read_ico(os.path.join(HERE, 'app.ico'))
    need([(w, bpp) for (w, bpp, _, _, _) in pictures] ==
         [(s, 32) for s in APP_ICON_SIZES],
         'app.ico: want 32-bit pictures of %r' % (APP_ICON_SIZES,))
    for (w, bpp, pal, xor, mask) in pictures:
        check_alpha('app.ico', w, xor, mask, real=w > 32)
        opaque = [(x, y) for y in range(w) for x in range(w)
                  if mask[y][x] == 0]
        need(0.3 * w * w < len(opaque) < w * w,
             'app.ico %d: %d opaque pixels' % (w, len(opaque)))
        need(mask[w // 2][w // 2] == 1 and mask[0][0] == 1,
             'app.ico %d: the hole and the corners must be transparent' % w)
        golden = sum(1 for (x, y) in opaque
                     if xor[y][4 * x + 2] > xor[y][4 * x] + 60)
        need(golden > 0.8 * len(opaque),
             'app.ico %d: the disc is not golden' % w)

    pictures = read_ico(os.path.join(HERE, 'busy.ico'))
    need([(w, bpp) for (w, bpp, _, _, _) in pictures] ==
         [(s, 32) for s in SIZES], 'busy.ico: want 32-bit pictures of %r'
         % (SIZES,))
    for (w, bpp, _, xor, mask) in pictures:
        check_alpha('busy.ico', w, xor, mask)

    [(w, bpp, _, xor, mask)] = read_ico(os.path.join(HERE, 'template.ico'))
    need((w, bpp) == (16, 24), 'template.ico: %dx%d %d bpp' % (w, w, bpp))
    need(all(all(v == 1 for v in row) for row in mask),
         'template.ico: AND mask must be all ones')
    need(all(not any(row) for row in xor),
         'template.ico: XOR bits must be all black')


def check_wav():
    data = open(os.path.join(HERE, 'diskinside.wav'), 'rb').read()
    need(data[:4] == b'RIFF' and data[8:12] == b'WAVE', 'not RIFF/WAVE')
    need(struct.unpack_from('<I', data, 4)[0] == len(data) - 8, 'RIFF size')
    need(data[12:16] == b'fmt ', 'fmt chunk first')
    fsize, tag, ch, rate, bps, align, bits = \
        struct.unpack_from('<IHHIIHH', data, 16)
    need((fsize, tag, ch, rate, bits) == (16, 1, 1, 22050, 16),
         'format must be PCM 16-bit mono 22050 Hz')
    need(bps == 44100 and align == 2, 'byte rate / block align')
    need(data[36:40] == b'data', 'data chunk')
    n = struct.unpack_from('<I', data, 40)[0]
    need(44 + n == len(data), 'data size')
    s = struct.unpack('<%dh' % (n // 2), data[44:44 + n])
    secs = len(s) / 22050.0
    need(0.4 <= secs <= 0.8, 'length %.2f s' % secs)
    peak = max(abs(v) for v in s)
    need(3000 < peak < 0.7 * 32767, 'peak %d' % peak)
    need(abs(s[0]) < 64 and abs(s[-1]) < 64, 'starts or ends with a click')
    need(max(abs(a - b) for a, b in zip(s, s[1:])) < peak * 0.6,
         'a jump between samples')


def check():
    built = build()
    problems = 0

    def run(name, fn):
        nonlocal problems
        try:
            fn()
            print('ok   %s' % name)
        except (Bad, OSError, struct.error, IndexError) as e:
            problems += 1
            print('FAIL %s: %s' % (name, e))

    for size in SIZES:
        tail = '' if size == 16 else '_%d' % size
        states_rows = []

        def strip(name, cells, rows=states_rows, size=size):
            file = name + tail + '.bmp'
            return lambda: check_strip(
                os.path.join(HERE, file), cells * size, size, cells,
                built[file][1], rows if name.startswith('states') else None)

        run('states%s.bmp' % tail, strip('states', 4))
        run('states_default%s.bmp' % tail, strip('states_default', 4))
        run('menu%s.bmp' % tail, strip('menu', 17))
        run('flags%s.bmp' % tail, strip('flags', 2))
        run('tabs%s.bmp' % tail, strip('tabs', 2))
        run('letters%s.bmp' % tail, lambda rows=states_rows, size=size,
            tail=tail: check_letters(
                os.path.join(HERE, 'letters%s.bmp' % tail), rows, size) if
            len(rows) == 2 else need(False, 'state pictures unreadable'))
        run('badges%s' % tail, lambda rows=states_rows, size=size:
            check_badges(rows, size) if len(rows) == 2 else
            need(False, 'state pictures unreadable'))
    run('icons', check_icons)
    run('diskinside.wav', check_wav)
    for name, (data, _) in sorted(built.items()):
        def same(name=name, data=data):
            need(open(os.path.join(HERE, name), 'rb').read() == data,
                 'differs from what draw.py makes now; rerun it')
        run('%s is current' % name, same)
    return problems


def main(argv):
    if '--check' in argv:
        bad = check()
        print('%d problem(s)' % bad)
        return 1 if bad else 0
    built = build()
    for name, (data, _) in built.items():
        with open(os.path.join(HERE, name), 'wb') as f:
            f.write(data)
    if '--preview' in argv:
        i = argv.index('--preview')
        if i + 1 >= len(argv):
            print('--preview needs a folder')
            return 2
        write_preview(argv[i + 1], built)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
