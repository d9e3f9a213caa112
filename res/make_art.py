#!/usr/bin/env python3
"""Draws Sonotape's bitmaps and icons and writes them as BMP and ICO files.

    python3 res/make_art.py [output folder]     (default: the folder of this script)

Pure Python, no packages: every shape is a signed distance function whose
coverage gives anti-aliased edges. The outside of the skin and of the button
bitmaps is the colour key (magenta); edges against the key are drawn hard so
that no pink fringe survives the keying.
"""
import math
import os
import struct
import sys

KEY = (255, 0, 255)


# ---- raster -------------------------------------------------------------------------------

class Image:
    def __init__(self, w, h, colour=(0, 0, 0), alpha=1.0):
        self.w, self.h = w, h
        self.px = [[list(colour) for _ in range(w)] for _ in range(h)]
        self.a = [[alpha] * w for _ in range(h)]

    def paint(self, sdf, colour, box=None, opacity=1.0, hard=False):
        """Blends `colour` (an rgb tuple or a function of x, y) where the
        signed distance `sdf(x, y)` is negative."""
        x0, y0, x1, y1 = box if box else (0, 0, self.w, self.h)
        for y in range(max(0, int(y0)), min(self.h, int(math.ceil(y1)))):
            row, arow = self.px[y], self.a[y]
            for x in range(max(0, int(x0)), min(self.w, int(math.ceil(x1)))):
                d = sdf(x + 0.5, y + 0.5)
                cov = (1.0 if d <= 0 else 0.0) if hard else min(1.0, max(0.0, 0.5 - d))
                cov *= opacity
                if cov <= 0:
                    continue
                c = colour(x + 0.5, y + 0.5) if callable(colour) else colour
                p = row[x]
                for i in range(3):
                    p[i] = p[i] * (1 - cov) + c[i] * cov
                arow[x] = arow[x] * (1 - cov) + cov

    def rgb(self, x, y):
        return tuple(int(round(min(255, max(0, v)))) for v in self.px[y][x])


def sd_circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def sd_ellipse(cx, cy, rx, ry):
    # Good enough near the edge for anti-aliasing.
    def f(x, y):
        dx, dy = (x - cx) / rx, (y - cy) / ry
        k = math.hypot(dx, dy)
        if k == 0:
            return -min(rx, ry)
        grad = math.hypot(dx / rx, dy / ry) / k
        return (k - 1) / max(grad, 1e-6)
    return f


def sd_ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - width / 2


def sd_round_rect(x0, y0, x1, y1, r):
    cx, cy, hw, hh = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2, (y1 - y0) / 2

    def f(x, y):
        qx, qy = abs(x - cx) - hw + r, abs(y - cy) - hh + r
        return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r
    return f


def seg_dist(px, py, ax, ay, bx, by):
    vx, vy, wx, wy = bx - ax, by - ay, px - ax, py - ay
    ll = vx * vx + vy * vy
    t = 0 if ll == 0 else max(0.0, min(1.0, (wx * vx + wy * vy) / ll))
    return math.hypot(wx - t * vx, wy - t * vy)


def sd_strokes(polylines, width):
    segs = [(a, b) for line in polylines for a, b in zip(line, line[1:])]

    def f(x, y):
        return min(seg_dist(x, y, a[0], a[1], b[0], b[1]) for a, b in segs) - width / 2
    return f


def arc(cx, cy, rx, ry, a0, a1, steps=24):
    """Points of an elliptic arc from angle a0 to a1 (degrees, y down, 0 = right, 90 = down)."""
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


def mix(a, b, t):
    t = min(1.0, max(0.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def vgrad(top, bottom, y0, y1):
    return lambda x, y: mix(top, bottom, (y - y0) / (y1 - y0))


# ---- files --------------------------------------------------------------------------------

def write_bmp(img, path):
    row = (img.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(img.h - 1, -1, -1):
        line = bytearray()
        for x in range(img.w):
            r, g, b = img.rgb(x, y)
            line += bytes((b, g, r))
        data += line + bytes(row - len(line))
    header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, img.w, img.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + data)


def icon_image(img):
    xor = bytearray()
    for y in range(img.h - 1, -1, -1):
        for x in range(img.w):
            r, g, b = img.rgb(x, y)
            xor += bytes((b, g, r, int(round(255 * min(1.0, max(0.0, img.a[y][x]))))))
    mask_row = ((img.w + 31) // 32) * 4
    mask = bytearray()
    for y in range(img.h - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(img.w):
            if img.a[y][x] < 0.5:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack('<IiiHHIIiiII', 40, img.w, img.h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def write_ico(images, path):
    blobs = [icon_image(i) for i in images]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for img, blob in zip(images, blobs):
        out += struct.pack('<BBBBHHII', img.w % 256, img.h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    with open(path, 'wb') as f:
        f.write(out + b''.join(blobs))


# ---- the skin -----------------------------------------------------------------------------

SKIN_W, SKIN_H = 360, 88
BUTTON_AT = (15, 11)
BUTTON_D = 66
RECESS = (18, 20, 24)          # the well around the record button
PANEL = (104, 6, 354, 82)      # the white display around the text box (118, 11, 221 x 65) and the logo at (123, 33)


def draw_skin():
    img = Image(SKIN_W, SKIN_H, KEY)
    body = sd_round_rect(0, 0, SKIN_W, SKIN_H, 24)
    # The outline first, hard against the key; the body inside it.
    img.paint(body, (16, 18, 22), hard=True)
    inner = sd_round_rect(1, 1, SKIN_W - 1, SKIN_H - 1, 23)
    img.paint(inner, vgrad((78, 84, 94), (30, 33, 39), 0, SKIN_H))
    # A soft highlight along the top edge.
    img.paint(sd_round_rect(6, 2, SKIN_W - 6, 12, 10), (255, 255, 255), opacity=0.10)

    # The well of the record button.
    cx, cy = BUTTON_AT[0] + BUTTON_D / 2, BUTTON_AT[1] + BUTTON_D / 2
    img.paint(sd_circle(cx, cy, BUTTON_D / 2 + 4.5), vgrad((10, 11, 13), (70, 76, 86), cy - 38, cy + 38))
    img.paint(sd_circle(cx, cy, BUTTON_D / 2 + 2.5), RECESS)

    # A small speaker grille between the button and the display.
    for row in range(5):
        for col in range(2):
            gx, gy = 91 + col * 6, 26 + row * 9
            img.paint(sd_circle(gx, gy + 0.6, 2.2), (95, 102, 112), opacity=0.7)
            img.paint(sd_circle(gx, gy, 2.0), (14, 15, 18))

    # The display: a white panel in a thin bezel.
    x0, y0, x1, y1 = PANEL
    img.paint(sd_round_rect(x0 - 2, y0 - 2, x1 + 2, y1 + 2, 11), vgrad((12, 13, 16), (96, 102, 112), y0, y1))
    img.paint(sd_round_rect(x0, y0, x1, y1, 9), (255, 255, 255))
    # The edge of the key: outside the body exactly the key, inside never.
    for y in range(SKIN_H):
        for x in range(SKIN_W):
            if body(x + 0.5, y + 0.5) > 0:
                img.px[y][x] = list(KEY)
            elif img.rgb(x, y) == KEY:
                img.px[y][x] = [16, 18, 22]
    return img


# ---- the record button --------------------------------------------------------------------

def draw_button(centre, edge, glow, highlight):
    d = BUTTON_D
    img = Image(d, d, KEY)
    c = d / 2
    # Everything inside the ellipse of the window region is painted; its rim is
    # blended with the well around it, not with the key.
    img.paint(sd_circle(c, c, c + 0.6), RECESS, hard=True)
    img.paint(sd_circle(c, c, c - 0.4), vgrad((200, 205, 212), (58, 62, 70), 0, d))   # metal bezel
    img.paint(sd_circle(c, c, c - 4.0), vgrad((40, 42, 46), (150, 156, 166), 0, d))   # bezel's inner bevel
    face_r = c - 5.5

    def face(x, y):
        t = math.hypot(x - c, y - (c + 4)) / (face_r + 4)
        return mix(centre, edge, t ** 1.3)
    img.paint(sd_circle(c, c, face_r), face)
    if glow:
        # A smooth inner glow: strongest in the middle, gone at the rim.
        def shine(x, y):
            t = math.hypot(x - c, y - (c + 3)) / (face_r * 0.8)
            return max(0.0, 1.0 - t) ** 1.6
        for y in range(d):
            for x in range(d):
                k = shine(x + 0.5, y + 0.5) * 0.75
                if k > 0:
                    p = img.px[y][x]
                    for i in range(3):
                        p[i] = p[i] * (1 - k) + glow[i] * k
    # Glossy reflection in the upper half.
    img.paint(sd_ellipse(c, c - face_r * 0.45, face_r * 0.68, face_r * 0.40),
              vgrad((255, 255, 255), highlight, c - face_r * 0.85, c - face_r * 0.05), opacity=0.55)
    return img


def draw_buttons():
    idle = draw_button(centre=(214, 40, 36), edge=(120, 10, 10), glow=None, highlight=(214, 40, 36))
    lit = draw_button(centre=(255, 96, 70), edge=(226, 22, 12), glow=(255, 196, 150), highlight=(255, 90, 70))
    dark = draw_button(centre=(92, 14, 14), edge=(40, 4, 4), glow=None, highlight=(92, 14, 14))
    return idle, lit, dark


# ---- the logo -----------------------------------------------------------------------------

LOGO_W, LOGO_H = 211, 22
INK = (43, 48, 56)
RED = (214, 34, 30)


def glyph(ch, x, top, w, h):
    """Stroke polylines of one capital letter in the box (x, top, w, h)."""
    l, r, t, b, m = x, x + w, top, top + h, top + h / 2
    if ch == 'S':
        rx, ry = w / 2, h / 4
        return [arc(x + rx, t + ry, rx, ry, -15, -270) + arc(x + rx, b - ry, rx, ry, -90, 165)]
    if ch == 'O':
        return [arc(x + w / 2, m, w / 2, h / 2, 0, 360, 48)]
    if ch == 'N':
        return [[(l, b), (l, t), (r, b), (r, t)]]
    if ch == 'T':
        return [[(l, t), (r, t)], [(x + w / 2, t), (x + w / 2, b)]]
    if ch == 'A':
        return [[(l, b), (x + w / 2, t), (r, b)], [(l + w * 0.22, t + h * 0.66), (r - w * 0.22, t + h * 0.66)]]
    if ch == 'P':
        bowl = h * 0.27
        return [[(l, b), (l, t), (r - bowl, t)] + arc(r - bowl, t + bowl, bowl, bowl, -90, 90) + [(l, t + 2 * bowl)]]
    if ch == 'E':
        return [[(r, t), (l, t), (l, b), (r, b)], [(l, m), (r - w * 0.2, m)]]
    raise ValueError(ch)


def draw_logo():
    img = Image(LOGO_W, LOGO_H, (255, 255, 255))
    # The mark: two tape reels joined by the tape.
    reels = [(28, 11), (50, 11)]
    for (cx, cy) in reels:
        img.paint(sd_ring(cx, cy, 8.2, 2.4), INK)
        img.paint(sd_circle(cx, cy, 2.4), RED)
        img.paint(sd_strokes([[(cx + 3.2 * math.cos(a), cy + 3.2 * math.sin(a)),
                               (cx + 7.0 * math.cos(a), cy + 7.0 * math.sin(a))]
                              for a in (math.radians(d) for d in (-90, 30, 150))], 1.6), INK)
    img.paint(sd_strokes([[(28, 19.6), (50, 19.6)]], 1.6), INK)

    # The word: SONO in ink, TAPE in red.
    word, x, top, h, stroke = 'SONOTAPE', 70, 3.5, 15, 2.6
    widths = {'S': 10, 'O': 13, 'N': 11, 'T': 11, 'A': 12, 'P': 10, 'E': 9}
    for i, ch in enumerate(word):
        w = widths[ch]
        lines = glyph(ch, x + stroke / 2, top, w - stroke, h)
        img.paint(sd_strokes(lines, stroke), INK if i < 4 else RED, box=(x - 2, 0, x + w + 2, LOGO_H))
        x += w + 4.5
    return img


# ---- icons --------------------------------------------------------------------------------

def draw_icon(size, kind):
    img = Image(size, size, (0, 0, 0), alpha=0.0)
    s = size / 32.0
    c = size / 2
    if kind == 'program':
        img.paint(sd_round_rect(1 * s, 3 * s, 31 * s, 29 * s, 7 * s), vgrad((86, 92, 102), (28, 31, 36), 3 * s, 29 * s))
        img.paint(sd_round_rect(17 * s, 9 * s, 28.5 * s, 23 * s, 2.5 * s), (255, 255, 255))
        img.paint(sd_circle(10 * s, 16 * s, 7.5 * s), (200, 205, 212))
        img.paint(sd_circle(10 * s, 16 * s, 6.2 * s), vgrad((255, 90, 70), (170, 12, 10), 10 * s, 22 * s))
        img.paint(sd_ellipse(10 * s, 13.4 * s, 4 * s, 2.3 * s), (255, 255, 255), opacity=0.45)
    elif kind == 'idle':
        img.paint(sd_circle(c, c, 14.5 * s), vgrad((200, 205, 212), (70, 75, 84), 1 * s, 31 * s))
        img.paint(sd_circle(c, c, 12 * s), (34, 37, 43))
        img.paint(sd_circle(c, c, 7.5 * s), vgrad((190, 50, 44), (110, 16, 14), c - 7 * s, c + 7 * s))
        img.paint(sd_ellipse(c, c - 3.2 * s, 4.5 * s, 2.4 * s), (255, 255, 255), opacity=0.35)
    else:  # recording
        img.paint(sd_circle(c, c, 15.5 * s), (255, 60, 40), opacity=0.35)
        img.paint(sd_circle(c, c, 13 * s), vgrad((255, 110, 80), (200, 14, 10), c - 13 * s, c + 13 * s))
        img.paint(sd_ring(c, c, 13 * s, 1.2 * s), (140, 8, 6), opacity=0.8)
        img.paint(sd_ellipse(c, c - 5.5 * s, 8 * s, 4.2 * s), (255, 255, 255), opacity=0.55)
    return img


# ---- the installer's side picture ---------------------------------------------------------

SIDE_W, SIDE_H = 164, 314      # the welcome and finish pages of the installer


def draw_installer_side():
    img = Image(SIDE_W, SIDE_H, (0, 0, 0))
    img.paint(lambda x, y: -1, vgrad((78, 84, 94), (24, 26, 31), 0, SIDE_H))
    icon = draw_icon(112, 'program')
    x0, y0 = (SIDE_W - icon.w) // 2, 70
    for y in range(icon.h):
        for x in range(icon.w):
            a = icon.a[y][x]
            if a > 0:
                p = img.px[y0 + y][x0 + x]
                for i in range(3):
                    p[i] = p[i] * (1 - a) + icon.px[y][x][i] * a
    # Two tape reels under it, joined by the tape.
    for cx in (56, 108):
        img.paint(sd_ring(cx, 236, 20, 5), (200, 205, 212))
        img.paint(sd_circle(cx, 236, 6), RED)
    img.paint(sd_strokes([[(56, 256), (108, 256)]], 3), (200, 205, 212))
    return img


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_bmp(draw_skin(), os.path.join(out, 'skin.bmp'))
    idle, lit, dark = draw_buttons()
    write_bmp(idle, os.path.join(out, 'button_idle.bmp'))
    write_bmp(lit, os.path.join(out, 'button_lit.bmp'))
    write_bmp(dark, os.path.join(out, 'button_dark.bmp'))
    write_bmp(draw_logo(), os.path.join(out, 'logo.bmp'))
    write_bmp(draw_installer_side(), os.path.join(out, 'installer_side.bmp'))
    for kind, name in (('idle', 'idle.ico'), ('recording', 'recording.ico'), ('program', 'sonotape.ico')):
        write_ico([draw_icon(32, kind), draw_icon(16, kind)], os.path.join(out, name))


if __name__ == '__main__':
    main()
