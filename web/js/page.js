// The page around the show: its address's query, its title, prompt and report, and the
// WebGL renderer's name. Called from platform/web/page.cpp.
mergeInto(LibraryManager.library, {
  // Calls use(pointer) with `text` as a C string in the program's memory, freed after;
  // returns what use returned. For the program's calls that take a line or a name.
  $pulse165WithText__deps: ['$stringToNewUTF8', 'free'],
  $pulse165WithText: function (text, use) {
    const pointer = stringToNewUTF8(text);
    try {
      return use(pointer);
    } finally {
      _free(pointer);
    }
  },

  pulse165_readPageQuery__deps: ['$stringToNewUTF8'],
  pulse165_readPageQuery: function (name) {
    const value = new URLSearchParams(location.search).get(UTF8ToString(name));
    return value === null ? 0 : stringToNewUTF8(value);  // the program frees it
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

  pulse165_readWebglRenderer__deps: ['$stringToNewUTF8'],
  pulse165_readWebglRenderer: function () {
    const gl = GL.currentContext && GL.currentContext.GLctx;
    let name = '';
    if (gl) {
      const info = gl.getExtension('WEBGL_debug_renderer_info');
      name = String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
    }
    return stringToNewUTF8(name);  // the program frees it
  },
});
