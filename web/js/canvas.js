// The canvas: its size, from the page or as asked, and the page's full screen. Called
// from platform/web/canvas.cpp.
mergeInto(LibraryManager.library, {
  pulse165_sizeCanvasFromPage: function (fill, width, height) {
    const c = document.getElementById('canvas');
    if (fill) {
      const ratio = window.devicePixelRatio || 1;
      c.style.width = '100%';
      c.style.height = '100%';
      HEAP32[width >> 2] = Math.max(1, Math.round(window.innerWidth * ratio));
      HEAP32[height >> 2] = Math.max(1, Math.round(window.innerHeight * ratio));
    } else {
      c.style.width = HEAP32[width >> 2] + 'px';
      c.style.height = HEAP32[height >> 2] + 'px';
    }
  },

  // Browsers let a page go full screen only while a key press or a click is recent: the
  // player acts on the key in the next animation frame, well within that.
  pulse165_togglePageFullScreen: function () {
    const c = document.getElementById('canvas');
    if (document.fullscreenElement) {
      document.exitFullscreen().catch(() => {});
    } else if (c.requestFullscreen) {
      c.requestFullscreen().catch(() => {});
    }
  },
});
