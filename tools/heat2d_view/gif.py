"""An animated GIF written frame by frame as the frames are drawn, so that memory does not grow with
their number (Pillow's own writer keeps every frame until the end)."""
import matplotlib
import numpy as np
from PIL import GifImagePlugin, Image

# One palette for every frame: the colour map's colours for the field and greys for the axes,
# labels and background, so that a colour means the same temperature in every frame.
MAP_COLOURS = 224
GREYS = 256 - MAP_COLOURS
LOOP_FOREVER = b"!\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"


def palette_image(cmap):
    colours = matplotlib.colormaps[cmap](np.linspace(0, 1, MAP_COLOURS))[:, :3]
    greys = np.repeat(np.linspace(0, 1, GREYS)[:, None], 3, axis=1)
    entries = np.round(255 * np.vstack([colours, greys])).astype(np.uint8)
    image = Image.new("P", (1, 1))
    image.putpalette(entries.ravel().tolist())
    return image


class GifWriter:
    """Usage: with open(path, "wb") as file: writer = GifWriter(file, fps, cmap); writer.add(rgb)
    for each frame; writer.close()."""

    def __init__(self, file, fps, cmap):
        self.file = file
        self.duration = round(1000 / fps)
        self.palette = palette_image(cmap)
        self.started = False

    def add(self, rgb):
        """Appends one frame given as an RGB (or RGBA) array."""
        frame = Image.fromarray(np.ascontiguousarray(rgb[:, :, :3])).quantize(
            palette=self.palette, dither=Image.Dither.NONE)
        if not self.started:
            header, _ = GifImagePlugin.getheader(frame, None, {})
            header[0] = b"GIF89a" + header[0][6:]  # frame delays and looping need GIF89a
            self.file.writelines(header)
            self.file.write(LOOP_FOREVER)
            self.started = True
        self.file.writelines(GifImagePlugin.getdata(frame, duration=self.duration))

    def close(self):
        self.file.write(b";")
