#!/usr/bin/env python3
"""Draws the installer's pictures and writes them into
src/platform/win32/resources/:

  disk1.bmp, disk2.bmp  30x30, 256 colours: the two frames of the disk
                        animation in the progress window (a floppy disk whose
                        activity light and shutter alternate)
  progress.ico          16x16 and 32x32: the progress window's class icon
  installer.ico         16x16 and 32x32: the executable's own icon (a parcel
                        with an arrow into it)

Everything is drawn here from a few shapes; run from anywhere:
python3 scripts/gen_resources.py
"""
import pathlib
import struct

OUT = pathlib.Path(__file__).resolve().parent.parent / "src/platform/win32/resources"

# Colours (red, green, blue).
BACKGROUND = (192, 192, 192)  # the window's light grey
BODY = (32, 48, 128)
BODY_EDGE = (16, 24, 72)
SHUTTER = (200, 204, 212)
SHUTTER_DARK = (120, 124, 132)
LABEL = (250, 250, 240)
LABEL_LINE = (150, 150, 170)
LIGHT_ON = (40, 220, 60)
LIGHT_OFF = (20, 80, 30)
PARCEL = (196, 146, 84)
PARCEL_DARK = (140, 96, 48)
ARROW = (30, 110, 220)
ARROW_DARK = (16, 60, 140)
TRANSPARENT = None


def canvas(w, h, fill):
    return [[fill] * w for _ in range(h)]


def rect(img, x0, y0, x1, y1, colour):
    """Fills x0..x1-1, y0..y1-1."""
    for y in range(max(0, y0), min(len(img), y1)):
        for x in range(max(0, x0), min(len(img[0]), x1)):
            img[y][x] = colour


def disk_frame(frame):
    img = canvas(30, 30, BACKGROUND)
    rect(img, 2, 2, 28, 28, BODY_EDGE)
    rect(img, 3, 3, 27, 27, BODY)
    rect(img, 24, 3, 27, 6, BACKGROUND)  # the cut corner
    rect(img, 25, 4, 27, 6, BODY_EDGE)
    # The metal shutter at the top slides between the frames.
    shift = 0 if frame == 0 else 4
    rect(img, 8, 3, 21, 12, SHUTTER_DARK)
    rect(img, 9, 3, 20, 11, SHUTTER)
    rect(img, 12 + shift, 4, 15 + shift, 10, BODY_EDGE)
    # The paper label with its lines.
    rect(img, 6, 15, 24, 27, LABEL)
    for y in (18, 21, 24):
        rect(img, 8, y, 22, y + 1, LABEL_LINE)
    # The activity light blinks.
    rect(img, 4, 24, 6, 26, LIGHT_ON if frame == 0 else LIGHT_OFF)
    return img


def parcel_icon(size, with_arrow_colour):
    img = canvas(size, size, TRANSPARENT)
    s = size / 32.0

    def r(x0, y0, x1, y1, colour):
        rect(img, int(x0 * s), int(y0 * s), max(int(x1 * s), int(x0 * s) + 1), max(int(y1 * s), int(y0 * s) + 1), colour)

    r(3, 13, 29, 30, PARCEL_DARK)
    r(4, 14, 28, 29, PARCEL)
    r(14, 14, 18, 29, PARCEL_DARK)  # the tape
    # The arrow pointing into the parcel.
    r(12, 1, 20, 12, with_arrow_colour)
    for row in range(0, 7):
        r(7 + row, 10 + row, 25 - row, 11 + row, with_arrow_colour)
    return img


def palette_of(images):
    colours = []
    for img in images:
        for row in img:
            for c in row:
                if c is not None and c not in colours:
                    colours.append(c)
    assert len(colours) <= 256
    return colours + [(0, 0, 0)] * (256 - len(colours))


def write_bmp8(path, img, palette):
    h, w = len(img), len(img[0])
    stride = (w + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytes(palette.index(c) for c in img[y])
        pixels += row + b"\0" * (stride - w)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(pal)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    path.write_bytes(header + info + pal + pixels)


def icon_image(img):
    """32-bit colour with alpha, plus the AND mask, bottom-up."""
    size = len(img)
    colour = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for y in range(size - 1, -1, -1):
        bits = 0
        row_mask = bytearray(mask_stride)
        for x, c in enumerate(img[y]):
            if c is None:
                colour += b"\0\0\0\0"
                row_mask[x // 8] |= 0x80 >> (x % 8)
            else:
                colour += struct.pack("<BBBB", c[2], c[1], c[0], 255)
        mask += row_mask
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return info + colour + mask


def write_ico(path, images):
    blobs = [icon_image(img) for img in images]
    header = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    entries = b""
    for img, blob in zip(images, blobs):
        size = len(img)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    path.write_bytes(header + entries + b"".join(blobs))


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    frames = [disk_frame(0), disk_frame(1)]
    palette = palette_of(frames)
    write_bmp8(OUT / "disk1.bmp", frames[0], palette)
    write_bmp8(OUT / "disk2.bmp", frames[1], palette)
    write_ico(OUT / "progress.ico", [parcel_icon(16, ARROW_DARK), parcel_icon(32, ARROW_DARK)])
    write_ico(OUT / "installer.ico", [parcel_icon(16, ARROW), parcel_icon(32, ARROW)])


if __name__ == "__main__":
    main()
