"""Draws the pictures that the pages name into a folder (images/, committed; run
scripts/make-images only to change them). Debian's Pillow and DejaVu fonts:
  make-images.py FOLDER
"""

import math, sys
from PIL import Image, ImageDraw, ImageFont

out = sys.argv[1]
FONT = "/usr/share/fonts/truetype/dejavu/"
TEAL, DARK, RED = (0, 128, 128), (0, 72, 80), (204, 0, 0)
# The content cell's ground: pictures shown there are drawn on it.
GROUND = (246, 250, 250)
S = 4  # drawn this many times larger, then scaled down for smooth edges


def canvas(w, h, bg=(255, 255, 255)):
    im = Image.new("RGB", (w * S, h * S), bg)
    return im, ImageDraw.Draw(im)


def box(x0, y0, x1, y1):
    return [x0 * S, y0 * S, x1 * S, y1 * S]


def font(name, size):
    return ImageFont.truetype(FONT + name, size * S)


def shrink(im, w, h):
    return im.resize((w, h), Image.LANCZOS)


def save_jpeg(im, name):
    im.save(f"{out}/{name}", "JPEG", quality=88, optimize=True)


def save_gif(im, name):
    im.quantize(colors=64, method=Image.MEDIANCUT, dither=Image.NONE).save(
        f"{out}/{name}", "GIF", optimize=True
    )


# Banner logo: a beam over the name, on white like the page.
im, d = canvas(159, 32)
d.polygon([(4 * S, 26 * S), (14 * S, 4 * S), (24 * S, 26 * S)], fill=TEAL)
d.polygon([(14 * S, 4 * S), (30 * S, 10 * S), (30 * S, 13 * S)], fill=RED)
d.ellipse(box(11, 2, 17, 8), fill=RED)
d.text((34 * S, 2 * S), "northbeam", font=font("DejaVuSans-Bold.ttf", 19), fill=DARK)
d.text((35 * S, 23 * S), "BOARD CONSOLE", font=font("DejaVuSans.ttf", 7), fill=TEAL)
save_gif(shrink(im, 159, 32), "header_logo.gif")

# The Internet: a globe with meridians.
im, d = canvas(48, 48)
d.ellipse(box(5, 5, 43, 43), fill=(210, 236, 248), outline=(30, 100, 170), width=2 * S)
for k in (10, 18):
    d.ellipse(box(24 - k, 5, 24 + k, 43), outline=(30, 100, 170), width=S + S // 2)
d.line(box(24, 5, 24, 43), fill=(30, 100, 170), width=S + S // 2)
for y, k in ((24, 19), (14, 15), (34, 15)):
    d.line(box(24 - k, y, 24 + k, y), fill=(30, 100, 170), width=S + S // 2)
save_jpeg(shrink(im, 48, 48), "internet_lan.jpg")

# The board itself: a small box with ports and lights.
im, d = canvas(48, 48)
d.rounded_rectangle(box(4, 14, 44, 36), radius=3 * S, fill=TEAL, outline=DARK, width=S + S // 2)
for i, c in enumerate(((60, 220, 60), (60, 220, 60), (250, 190, 40))):
    d.ellipse(box(9 + 6 * i, 19, 12 + 6 * i, 22), fill=c)
for i in range(3):
    d.rectangle(
        box(9 + 11 * i, 26, 17 + 11 * i, 32), fill=(235, 235, 225), outline=DARK, width=S // 2
    )
d.line(box(24, 14, 24, 6), fill=DARK, width=S + S // 2)
d.ellipse(box(22, 4, 26, 8), fill=RED)
save_jpeg(shrink(im, 48, 48), "northbeam_lan.jpg")

# The local computer: a monitor on a stand.
im, d = canvas(48, 48)
d.rounded_rectangle(box(5, 7, 43, 33), radius=2 * S, fill=(70, 70, 80))
d.rectangle(box(8, 10, 40, 30), fill=(150, 205, 230))
d.line(box(11, 15, 26, 15), fill=(255, 255, 255), width=S + S // 2)
d.line(box(11, 20, 33, 20), fill=(255, 255, 255), width=S + S // 2)
d.polygon(
    [(20 * S, 33 * S), (28 * S, 33 * S), (30 * S, 39 * S), (18 * S, 39 * S)], fill=(100, 100, 110)
)
d.rounded_rectangle(box(12, 39, 36, 42), radius=S, fill=(70, 70, 80))
save_jpeg(shrink(im, 48, 48), "local_lan.jpg")

# Content background: a faint tileable grid that keeps text readable.
tile = Image.new("RGB", (32, 32), GROUND)
d = ImageDraw.Draw(tile)
d.line([(0, 31), (31, 31)], fill=(234, 243, 243))
d.line([(31, 0), (31, 31)], fill=(234, 243, 243))
save_gif(tile, "bg01.gif")

# The home page's board: a network board seen from above.
W, H = 300, 200
im, d = canvas(W, H, GROUND)
PCB, TRACE = (28, 110, 70), (60, 150, 100)
d.rounded_rectangle(
    box(14, 18, 286, 186), radius=8 * S, fill=PCB, outline=(15, 70, 45), width=2 * S
)
for x, y in ((24, 28), (276, 28), (24, 176), (276, 176)):
    d.ellipse(box(x - 5, y - 5, x + 5, y + 5), fill=(220, 200, 120))
    d.ellipse(box(x - 2, y - 2, x + 2, y + 2), fill=(255, 255, 255))
for i in range(9):
    y = 60 + 9 * i
    d.line(box(150, y, 190, y), fill=TRACE, width=S)
    d.line(box(190, y, 200, y + 14), fill=TRACE, width=S)
for i in range(6):
    x = 95 + 9 * i
    d.line(box(x, 128, x, 150), fill=TRACE, width=S)
# Processor with its pins.
d.rectangle(box(80, 55, 150, 125), fill=(40, 40, 44), outline=(110, 110, 110), width=S)
for i in range(12):
    o = 59 + 5.5 * i
    for pin in (
        box(o, 51, o + 2.5, 55),
        box(o, 125, o + 2.5, 129),
        box(76, o, 80, o + 2.5),
        box(150, o, 154, o + 2.5),
    ):
        d.rectangle(pin, fill=(200, 200, 200))
d.text(
    (115 * S, 83 * S),
    "NB425",
    font=font("DejaVuSans-Bold.ttf", 12),
    fill=(220, 220, 220),
    anchor="mm",
)
d.text(
    (115 * S, 99 * S), "533 MHz", font=font("DejaVuSans.ttf", 8), fill=(170, 170, 170), anchor="mm"
)
# Memory chips.
for y in (50, 96):
    d.rectangle(box(200, y, 240, y + 32), fill=(30, 30, 34))
    for i in range(7):
        d.rectangle(box(203 + 5 * i, y - 3, 205 + 5 * i, y), fill=(200, 200, 200))
        d.rectangle(box(203 + 5 * i, y + 32, 205 + 5 * i, y + 35), fill=(200, 200, 200))
# Flash and a crystal.
d.rectangle(box(36, 134, 72, 160), fill=(30, 30, 34))
d.rounded_rectangle(box(250, 60, 270, 70), radius=4 * S, fill=(190, 190, 195))
# Two network ports and a serial header along the bottom edge.
for x in (110, 160):
    d.rectangle(box(x, 150, x + 40, 186), fill=(200, 200, 190), outline=(110, 110, 100), width=S)
    d.rectangle(box(x + 10, 160, x + 30, 180), fill=(40, 40, 40))
    d.ellipse(box(x + 3, 152, x + 8, 157), fill=(60, 220, 60))
    d.ellipse(box(x + 32, 152, x + 37, 157), fill=(250, 190, 40))
for i in range(5):
    d.rectangle(box(215 + 8 * i, 160, 220 + 8 * i, 165), fill=(230, 200, 90))
# Power jack and status lights.
d.rectangle(box(26, 60, 56, 90), fill=(25, 25, 25))
d.ellipse(box(33, 67, 49, 83), fill=(90, 90, 90))
for i, c in enumerate(((60, 220, 60), (250, 60, 40), (60, 160, 250))):
    d.ellipse(box(30 + 10 * i, 105, 36 + 10 * i, 111), fill=c)
d.text((33 * S, 165 * S), "northbeam", font=font("DejaVuSans-Bold.ttf", 8), fill=(230, 240, 230))
d.text(
    (150 * S, 6 * S),
    "Northbeam network processor board",
    font=font("DejaVuSans.ttf", 9),
    fill=DARK,
    anchor="mt",
)
save_jpeg(shrink(im, W, H), "IntelIXP425.jpg")

# Please wait: twelve dots turning round the word.
frames = []
for f in range(12):
    im, d = canvas(60, 60, GROUND)
    for i in range(12):
        a = math.pi * 2 * i / 12 - math.pi / 2
        x, y = 30 + 22 * math.cos(a), 30 + 22 * math.sin(a)
        age = (f - i) % 12
        t = min(1.0, age / 9)
        c = tuple(round(v + (w - v) * t) for v, w in zip(TEAL, (196, 222, 222)))
        r = 4.2 if age == 0 else 3.4
        d.ellipse(box(x - r, y - r, x + r, y + r), fill=c)
    d.text((30 * S, 25 * S), "please", font=font("DejaVuSans.ttf", 7), fill=DARK, anchor="mm")
    d.text((30 * S, 34 * S), "wait", font=font("DejaVuSans-Bold.ttf", 10), fill=DARK, anchor="mm")
    frames.append(shrink(im, 60, 60).quantize(colors=32, method=Image.MEDIANCUT, dither=Image.NONE))
# One palette for all frames keeps the file small; the ground is see-through.
pal = frames[0]
frames = [pal] + [f.convert("RGB").quantize(palette=pal, dither=Image.NONE) for f in frames[1:]]
ground = min(
    range(32),
    key=lambda i: sum(abs(a - b) for a, b in zip(pal.getpalette()[3 * i : 3 * i + 3], GROUND)),
)
for f in frames:
    f.info["transparency"] = ground
frames[0].save(
    f"{out}/wait.gif",
    "GIF",
    save_all=True,
    append_images=frames[1:],
    duration=90,
    loop=0,
    transparency=ground,
    disposal=2,
)
print("pictures written to", out)
