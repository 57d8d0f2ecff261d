#!/usr/bin/env python3
"""Draws the frame's bitmaps, icon and cursors as plain pixel art and writes them beside this
script: toolbar.bmp (eleven 16x16 images, magenta = transparent), pravel.ico (16 and 32 px),
and four 32x32 monochrome cursors. Run it again after changing a picture and commit the output."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
MAGENTA = (255, 0, 255)


class Canvas:
    def __init__(self, w, h, bg):
        self.w, self.h = w, h
        self.px = [[bg for _ in range(w)] for _ in range(h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c, fill=None):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                edge = x in (x0, x1) or y in (y0, y1)
                if edge:
                    self.set(x, y, c)
                elif fill is not None:
                    self.set(x, y, fill)

    def line(self, x0, y0, x1, y1, c):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.set(x0, y0, c)
            if x0 == x1 and y0 == y1:
                break
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def blit(self, pattern, x0, y0, c):
        for dy, row in enumerate(pattern):
            for dx, ch in enumerate(row):
                if ch == '#':
                    self.set(x0 + dx, y0 + dy, c)


DIGITS = {
    '1': [".#.", "##.", ".#.", ".#.", "###"],
    '2': ["##.", "..#", ".#.", "#..", "###"],
}
NAVY, GREY, WHITE, BLACK = (40, 60, 130), (110, 110, 120), (255, 255, 255), (0, 0, 0)
YELLOW, GREEN, RED, BLUE = (230, 180, 40), (30, 150, 60), (200, 40, 40), (50, 110, 210)


def window_box(c, x0, x1, colour):
    c.rect(x0, 2, x1, 13, colour, WHITE)
    for x in range(x0 + 1, x1):
        c.set(x, 3, colour)


def toolbar_images():
    imgs = []
    # 0 folder tree shown automatically: a tree with folders
    c = Canvas(16, 16, MAGENTA)
    c.line(3, 4, 3, 12, GREY)
    for y in (7, 12):
        c.line(3, y, 6, y, GREY)
    for (x, y) in ((1, 1), (7, 5), (7, 10)):
        c.rect(x, y + 1, x + 6, y + 4, YELLOW, YELLOW)
        c.line(x, y, x + 2, y, YELLOW)
        c.rect(x, y + 1, x + 6, y + 4, (160, 110, 20))
    imgs.append(c)
    # 1, 2 pane 1 / pane 2
    for d in '12':
        c = Canvas(16, 16, MAGENTA)
        window_box(c, 1, 14, NAVY)
        c.blit([r.replace('#', '#') for r in DIGITS[d]], 6, 6, NAVY)
        imgs.append(c)
    # 3 both panes side by side
    c = Canvas(16, 16, MAGENTA)
    window_box(c, 0, 7, NAVY)
    window_box(c, 8, 15, NAVY)
    c.blit(DIGITS['1'], 2, 6, NAVY)
    c.blit(DIGITS['2'], 10, 6, NAVY)
    imgs.append(c)
    # 4 text area: a picture with text lines under it
    c = Canvas(16, 16, MAGENTA)
    c.rect(3, 1, 12, 8, GREY, (150, 200, 240))
    c.line(4, 7, 7, 4, GREEN)
    c.line(7, 4, 11, 7, GREEN)
    c.line(2, 11, 13, 11, BLACK)
    c.line(2, 14, 10, 14, BLACK)
    imgs.append(c)
    # 5 display information settings: a sheet with an "i"
    c = Canvas(16, 16, MAGENTA)
    c.rect(2, 1, 13, 14, GREY, WHITE)
    c.set(7, 3, BLUE); c.set(8, 3, BLUE)
    c.rect(7, 6, 8, 12, BLUE, BLUE)
    c.line(6, 6, 7, 6, BLUE)
    c.line(6, 12, 9, 12, BLUE)
    imgs.append(c)
    # 6 stop / clear: a red octagon with a white bar
    c = Canvas(16, 16, MAGENTA)
    for y in range(2, 14):
        inset = max(0, 4 - (y - 2), 4 - (13 - y))
        for x in range(2 + inset, 14 - inset):
            c.set(x, y, RED)
    c.rect(4, 7, 11, 8, WHITE, WHITE)
    imgs.append(c)
    # 7 refresh: a green circular arrow
    c = Canvas(16, 16, MAGENTA)
    import math
    for a in range(40, 330, 3):
        r = math.radians(a)
        for rad in (5.0, 5.8):
            c.set(int(round(7.5 + rad * math.cos(r))), int(round(7.5 - rad * math.sin(r))), GREEN)
    for i, row in enumerate(["#######", ".#####.", "..###..", "...#..."]):
        c.blit([row], 9, 4 + i, GREEN)
    imgs.append(c)
    # 8 column count: a grid of cells
    c = Canvas(16, 16, MAGENTA)
    for cx in (1, 6, 11):
        for cy in (2, 9):
            c.rect(cx, cy, cx + 3, cy + 4, NAVY, (150, 200, 240))
    imgs.append(c)
    # 9 filter: a funnel
    c = Canvas(16, 16, MAGENTA)
    for y in range(2, 8):
        c.line(1 + (y - 2), y, 14 - (y - 2), y, BLUE)
    c.rect(6, 8, 9, 14, BLUE, BLUE)
    imgs.append(c)
    # 10 thumbnail size: a picture with a corner arrow
    c = Canvas(16, 16, MAGENTA)
    c.rect(1, 1, 10, 10, GREY, (150, 200, 240))
    c.line(7, 7, 14, 14, BLACK)
    c.line(14, 10, 14, 14, BLACK)
    c.line(10, 14, 14, 14, BLACK)
    imgs.append(c)
    return imgs


def write_bmp24(path, canvas):
    w, h = canvas.w, canvas.h
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = canvas.px[y][x]
            row += bytes((b, g, r))
        row += b'\0' * (stride - len(row))
        data += row
    header = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + data)


def app_icon(size):
    c = Canvas(size, size, None)
    s = size / 32.0
    def S(v):
        return int(round(v * s))
    c.rect(S(1), S(4), S(30), S(27), (60, 60, 70), (250, 250, 245))
    c.rect(S(4), S(7), S(27), S(24), (120, 120, 130), (140, 195, 240))
    # sun and hills
    for y in range(S(9), S(14)):
        for x in range(S(20), S(25)):
            c.set(x, y, (250, 200, 40))
    for x in range(S(5), S(27)):
        top = S(24) - int(abs(((x - S(12)) * 0.9)))
        top = max(top, S(15))
        for y in range(top, S(24)):
            c.set(x, y, (50, 150, 70))
    return c


def icon_image(canvas):
    w, h = canvas.w, canvas.h
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            p = canvas.px[y][x]
            xor += bytes((0, 0, 0, 0)) if p is None else bytes((p[2], p[1], p[0], 255))
    mask_stride = ((w + 31) // 32) * 4
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(w):
            if canvas.px[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    info = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + mask


def write_ico(path, canvases):
    images = [icon_image(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, img in zip(canvases, images):
        out += struct.pack('<BBBBHHII', c.w % 256, c.h % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


ARROW = [
    "#...........",
    "##..........",
    "#o#.........",
    "#oo#........",
    "#ooo#.......",
    "#oooo#......",
    "#ooooo#.....",
    "#oooooo#....",
    "#ooooooo#...",
    "#oooooooo#..",
    "#ooooo#####.",
    "#oo#oo#.....",
    "#o#.#oo#....",
    "##..#oo#....",
    "#....#oo#...",
    ".....#oo#...",
    "......##....",
]


def write_cursor(path, badge):
    """32x32 monochrome cursor: black-outlined white arrow with a badge at the lower right."""
    W = H = 32
    # 'b' black, 'w' white, None transparent
    grid = [[None] * W for _ in range(H)]
    for y, row in enumerate(ARROW):
        for x, ch in enumerate(row):
            if ch == '#':
                grid[y][x] = 'b'
            elif ch == 'o':
                grid[y][x] = 'w'
    bx, by = 13, 14
    for y in range(by, by + 11):
        for x in range(bx, bx + 11):
            edge = x in (bx, bx + 10) or y in (by, by + 10)
            grid[y][x] = 'b' if edge else 'w'
    for dy, row in enumerate(badge):
        for dx, ch in enumerate(row):
            if ch == '#':
                grid[by + 2 + dy][bx + 2 + dx] = 'b'
    stride = 4
    xor = bytearray()
    andm = bytearray()
    for y in range(H - 1, -1, -1):
        xr = bytearray(stride)
        ar = bytearray(stride)
        for x in range(W):
            p = grid[y][x]
            if p is None:
                ar[x // 8] |= 0x80 >> (x % 8)
            elif p == 'w':
                xr[x // 8] |= 0x80 >> (x % 8)
        xor += xr
        andm += ar
    info = struct.pack('<IiiHHIIiiII', 40, W, H * 2, 1, 1, 0, len(xor) + len(andm), 0, 0, 2, 0)
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    img = info + palette + xor + andm
    head = struct.pack('<HHH', 0, 2, 1) + struct.pack('<BBBBHHII', W, H, 2, 0, 0, 0, len(img), 22)
    with open(path, 'wb') as f:
        f.write(head + img)


def main():
    imgs = toolbar_images()
    strip = Canvas(16 * len(imgs), 16, MAGENTA)
    for i, img in enumerate(imgs):
        for y in range(16):
            for x in range(16):
                strip.px[y][16 * i + x] = img.px[y][x]
    assert len(imgs) == 11
    write_bmp24(os.path.join(HERE, 'toolbar.bmp'), strip)
    write_ico(os.path.join(HERE, 'pravel.ico'), [app_icon(32), app_icon(16)])
    big1 = ["...#...", "..##...", "...#...", "...#...", "...#...", "..###.."]
    big2 = ["..###..", ".#...#.", "....#..", "...#...", "..#....", ".#####."]
    plus = ["...#...", "...#...", "#######", "...#...", "...#...", "......."]
    move = ["..###..", ".#...#.", "#.....#", ".#...#.", "..###..", "......."]
    write_cursor(os.path.join(HERE, 'tree_copy.cur'), plus)
    write_cursor(os.path.join(HERE, 'tree_move.cur'), move)
    write_cursor(os.path.join(HERE, 'pane1.cur'), big1)
    write_cursor(os.path.join(HERE, 'pane2.cur'), big2)


if __name__ == '__main__':
    main()
