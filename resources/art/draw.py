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
    return {
        'states.bmp': (bmp24(states), states),
        'states_default.bmp': (bmp24(states_def), states_def),
        'letters.bmp': (bmp1(letters, 416, 16), letters),
        'menu.bmp': (bmp24(menu), menu),
        'flags.bmp': (bmp24(flags), flags),
        'tabs.bmp': (bmp24(tabs), tabs),
        'app.ico': (ico8(app), app),
        'busy.ico': (ico32(busy), busy),
        'template.ico': (ico_blank24(), None),
        'diskinside.wav': (wav(chime_samples()), None),
    }


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
    nothing may be almost cyan."""
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
        x0 = 16 * i
        drawn = sum(rows[y][x] != KEY for y in range(h)
                    for x in range(x0, x0 + 16))
        need(drawn >= 20, 'picture %d is (nearly) empty' % i)
        need(drawn < 256, 'picture %d has no cyan background' % i)
        need(KEY in (rows[0][x0], rows[0][x0 + 15], rows[h - 1][x0],
                     rows[h - 1][x0 + 15]),
             'picture %d: no corner is background' % i)
    return rows


def luminance(c):
    return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2]


def check_letters(path, states_rows_list):
    w, h, bpp, pal, rows = read_bmp(path)
    need((w, h, bpp) == (416, 16, 1), 'letters: %dx%d %d bpp' % (w, h, bpp))
    need(pal[:2] == [(0, 0, 0), (255, 255, 255)],
         'letters: palette must be black, white')
    seen = set()
    for i in range(26):
        black = frozenset((x, y) for y in range(16) for x in range(16)
                          if rows[y][16 * i + x] == 0)
        need(len(black) >= 15, 'letter %c is nearly empty' % (65 + i))
        need(black not in seen, 'letter %c repeats another' % (65 + i))
        seen.add(black)
        for (x, y) in black:
            need(LETTER_X <= x < LETTER_X + LETTER_W and
                 LETTER_Y <= y < LETTER_Y + LETTER_H,
                 'letter %c leaves its box at %d,%d' % (65 + i, x, y))
        need(black == frozenset(glyph_pixels(chr(65 + i))),
             'letter %c differs from the drawing' % (65 + i))
        # the letter must stand on the light part of every state picture:
        # each white pixel touching the glyph shows a light, opaque colour
        halo = ring_of(set(black)) - set(black)
        for s, srows in enumerate(states_rows_list):
            for (x, y) in black:
                for k in range(4):
                    need(srows[y][16 * k + x] != KEY,
                         'letter %c on state %d/%d: pixel %d,%d is off the '
                         'disc' % (65 + i, s, k, x, y))
            for (x, y) in halo:
                for k in range(4):
                    c = srows[y][16 * k + x]
                    need(c != KEY and luminance(c) >= 150,
                         'letter %c on state %d/%d: pixel %d,%d is %r, '
                         'too dark to read the letter against'
                         % (65 + i, s, k, x, y, c))


def check_badges(states_rows_list):
    """Badges and the star must keep off the letter box and its ring, so
    that they never touch a letter."""
    plain = [row[0:16] for row in states_rows_list[0]]
    for s, srows in enumerate(states_rows_list):
        for k in range(4):
            changed = [(x, y) for y in range(16) for x in range(16)
                       if srows[y][16 * k + x] != plain[y][x]]
            if s == 0 and k == 0:
                continue
            need(len(changed) >= 5, 'state %d/%d has no badge' % (s, k))
            for (x, y) in changed:
                need(free_of_letter(x, y),
                     'state %d/%d: badge pixel %d,%d is too close to the '
                     'letter' % (s, k, x, y))


def read_ico(path):
    data = open(path, 'rb').read()
    need(len(data) >= 22, 'too short')
    res, typ, count = struct.unpack_from('<HHH', data, 0)
    need((res, typ, count) == (0, 1, 1), 'ICONDIR must hold one icon')
    bw, bh, ncol, _, planes, bits, size, off = \
        struct.unpack_from('<BBBBHHII', data, 6)
    need(off == 22 and off + size == len(data), 'entry size/offset')
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
    need(and_off + astride * w == len(data), 'XOR + AND sizes')
    need(isize in (0, xstride * w + astride * w), 'biSizeImage')
    mask = []
    for y in range(w):
        line = data[and_off + (w - 1 - y) * astride:][:astride]
        mask.append([(line[x >> 3] >> (7 - (x & 7))) & 1 for x in range(w)])
    xor = []
    for y in range(w):
        xor.append(data[xor_off + (w - 1 - y) * xstride:][:xstride])
    palette = [tuple(data[pal_off + 4 * i + 2 - k] for k in range(3))
               for i in range(ncolours)]
    return w, bpp, palette, xor, mask


def check_icons():
    w, bpp, pal, xor, mask = read_ico(os.path.join(HERE, 'app.ico'))
    need((w, bpp) == (32, 8), 'app.ico: %dx%d %d bpp' % (w, w, bpp))
    opaque = [(x, y) for y in range(32) for x in range(32)
              if mask[y][x] == 0]
    need(300 < len(opaque) < 1024, 'app.ico: %d opaque pixels' % len(opaque))
    need(mask[16][16] == 1 and mask[0][0] == 1,
         'app.ico: the hole and the corners must be transparent')
    golden = sum(1 for (x, y) in opaque
                 if pal[xor[y][x]][0] > pal[xor[y][x]][2] + 60)
    need(golden > 0.8 * len(opaque), 'app.ico: the disc is not golden')
    need(all(xor[y][x] == 0 for y in range(32) for x in range(32)
             if mask[y][x]), 'app.ico: transparent pixels must be black')
    need(pal[0] == (0, 0, 0), 'app.ico: index 0 must be black')

    w, bpp, _, xor, mask = read_ico(os.path.join(HERE, 'busy.ico'))
    need((w, bpp) == (16, 32), 'busy.ico: %dx%d %d bpp' % (w, w, bpp))
    alphas = set()
    for y in range(16):
        for x in range(16):
            a = xor[y][4 * x + 3]
            alphas.add(a)
            need((a == 0) == (mask[y][x] == 1),
                 'busy.ico: AND mask disagrees with alpha at %d,%d' % (x, y))
    need(0 in alphas and 255 in alphas and
         any(0 < a < 255 for a in alphas), 'busy.ico: alpha is not real')

    w, bpp, _, xor, mask = read_ico(os.path.join(HERE, 'template.ico'))
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

    states_rows = []

    def strip(name, w, cells):
        def fn():
            check_strip(os.path.join(HERE, name), w, 16, cells,
                        built[name][1],
                        states_rows if name.startswith('states') else None)
        return fn

    run('states.bmp', strip('states.bmp', 64, 4))
    run('states_default.bmp', strip('states_default.bmp', 64, 4))
    run('menu.bmp', strip('menu.bmp', 272, 17))
    run('flags.bmp', strip('flags.bmp', 32, 2))
    run('tabs.bmp', strip('tabs.bmp', 32, 2))
    run('letters.bmp', lambda: check_letters(
        os.path.join(HERE, 'letters.bmp'), states_rows) if
        len(states_rows) == 2 else need(False, 'state pictures unreadable'))
    run('badges', lambda: check_badges(states_rows) if
        len(states_rows) == 2 else need(False, 'state pictures unreadable'))
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
