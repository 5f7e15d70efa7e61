// The page around the show: its address's query, its title, prompt and report, and the
// WebGL renderer's name. Called from platform/web/page.cpp.
mergeInto(LibraryManager.library, {
  pulse165_readPageQuery__deps: ['malloc'],
  pulse165_readPageQuery: function (name) {
    const value = new URLSearchParams(location.search).get(UTF8ToString(name));
    if (value === null) return 0;
    const size = lengthBytesUTF8(value) + 1;
    const text = _malloc(size);
    stringToUTF8(value, text, size);
    return text;
  },

  pulse165_writePageTitle: function (title) {
    document.title = UTF8ToString(title);
  },

  pulse165_writePagePrompt: function (text) {
    const p = document.getElementById('prompt');
    if (!p) return;
    p.textContent = UTF8ToString(text);
    p.style.display = p.textContent ? 'flex' : 'none';
  },

  pulse165_writePageReport: function (text) {
    const r = document.getElementById('report');
    if (r) r.textContent = UTF8ToString(text);
  },

  pulse165_readWebglRenderer__deps: ['malloc'],
  pulse165_readWebglRenderer: function () {
    const gl = GL.currentContext && GL.currentContext.GLctx;
    let name = '';
    if (gl) {
      const info = gl.getExtension('WEBGL_debug_renderer_info');
      name = String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
    }
    const size = lengthBytesUTF8(name) + 1;
    const text = _malloc(size);
    stringToUTF8(name, text, size);
    return text;
  },
});
