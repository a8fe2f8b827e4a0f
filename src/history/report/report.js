(function () {
  "use strict";
  var data = JSON.parse(document.getElementById("history-data").textContent);
  // The packed numbers: see the writer.
  var DIGITS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_", VALUE = new Int8Array(128);
  for (var d = 0; d < 64; d++) VALUE[DIGITS.charCodeAt(d)] = d;
  function reader(text) { return { s: text, i: 0, t: 0 }; }
  function num(r) {
    for (var v = 0, mul = 1; ; mul *= 32) {
      var c = VALUE[r.s.charCodeAt(r.i++)];
      if (c < 32) return v + c * mul;
      v += (c - 32) * mul;
    }
  }
  function time(r) {
    var z = num(r);
    if (z === 0) return null;
    z -= 1;
    r.t += z % 2 ? -(z + 1) / 2 : z / 2;
    return r.t;
  }
  var pairs = [], sessions = [], r = reader(data.pairs), first = 0;
  while (r.i < r.s.length) {
    var u = num(r), c = num(r), n = num(r);
    pairs.push([data.users[u], data.computers[c], first]);
    first += n;
  }
  for (r = reader(data.sessions); r.i < r.s.length; )
    sessions.push([num(r), time(r), num(r), num(r), num(r)]);
  // The files are read when a session's are first shown.
  var fileTimes = null, fileDirs, fileNames, dirTexts = [];
  function readFiles() {
    fileTimes = new Array(first); fileDirs = new Int32Array(first); fileNames = new Int32Array(first);
    var fr = reader(data.files);
    for (var k = 0; k < first; k++) { fileTimes[k] = time(fr); fileDirs[k] = num(fr); fileNames[k] = num(fr); }
  }
  function dirText(d) {
    if (d === 0) return "";
    if (dirTexts[d] === undefined) { var e = data.dirs[d - 1]; dirTexts[d] = dirText(e[0]) + e[1]; }
    return dirTexts[d];
  }
  var body = document.querySelector("#sessions tbody");
  var info = document.getElementById("page-info");
  var filterBox = document.getElementById("filter");
  var sizeBox = document.getElementById("page-size");
  var heads = document.querySelectorAll("#sessions th");
  var FILES_SHOWN = 500;

  function pad(n) { return (n < 10 ? "0" : "") + n; }
  function stamp(t) {
    if (t === null) return "0000-00-00 00:00:00";
    var d = new Date(t * 1000);
    return d.getUTCFullYear() + "-" + pad(d.getUTCMonth() + 1) + "-" + pad(d.getUTCDate()) + " " +
      pad(d.getUTCHours()) + ":" + pad(d.getUTCMinutes()) + ":" + pad(d.getUTCSeconds());
  }
  function duration(s) { return pad(Math.floor(s / 3600)) + ":" + pad(Math.floor(s % 3600 / 60)) + ":" + pad(s % 60); }
  function cell(tr, text, cls) { var td = document.createElement("td"); td.textContent = text; if (cls) td.className = cls; tr.appendChild(td); return td; }
  function key(i, col) {
    var s = sessions[i];
    switch (col) {
      case 0: return pairs[s[0]][0];
      case 1: return pairs[s[0]][1];
      case 2: return s[1] === null ? -Infinity : s[1];
      case 3: return s[2];
      default: return s[3];
    }
  }

  var all = [];
  for (var i = sessions.length - 1; i >= 0; i--) all.push(i);  // the latest line of the log first
  var rows = all, page = 0, sortCol = -1, sortDir = -1, opened = {}, showAll = {};

  function applyFilter() {
    var q = filterBox.value.toLowerCase();
    rows = !q ? all.slice() : all.filter(function (i) {
      var p = pairs[sessions[i][0]];
      return p[0].toLowerCase().indexOf(q) >= 0 || p[1].toLowerCase().indexOf(q) >= 0;
    });
    if (sortCol >= 0) sortRows();
    page = 0;
  }
  function sortRows() {
    rows.sort(function (a, b) {
      var x = key(a, sortCol), y = key(b, sortCol);
      if (x < y) return -sortDir;
      if (x > y) return sortDir;
      return b - a;
    });
  }
  function fileTable(i) {
    if (!fileTimes) readFiles();
    var s = sessions[i], count = s[3], from = pairs[s[0]][2] + s[4];
    var shown = showAll[i] ? count : Math.min(count, FILES_SHOWN);
    var t = document.createElement("table"), tb = document.createElement("tbody");
    for (var k = 0; k < shown; k++) {
      var tr = document.createElement("tr"), f = from + k;
      cell(tr, stamp(fileTimes[f])); cell(tr, dirText(fileDirs[f]) + data.names[fileNames[f]]);
      tb.appendChild(tr);
    }
    t.appendChild(tb);
    var box = document.createElement("div");
    box.appendChild(t);
    if (shown < count) {
      var more = document.createElement("button");
      more.textContent = "Show all " + count.toLocaleString() + " files";
      more.addEventListener("click", function (e) { e.stopPropagation(); showAll[i] = true; render(); });
      box.appendChild(more);
    }
    return box;
  }
  function render() {
    var size = parseInt(sizeBox.value, 10), pages = Math.max(1, Math.ceil(rows.length / size));
    if (page >= pages) page = pages - 1;
    var from = page * size, to = Math.min(rows.length, from + size);
    var frag = document.createDocumentFragment();
    for (var r = from; r < to; r++) {
      var i = rows[r], s = sessions[i], p = pairs[s[0]], tr = document.createElement("tr");
      cell(tr, p[0]); cell(tr, p[1]); cell(tr, stamp(s[1])); cell(tr, duration(s[2]), "num"); cell(tr, s[3].toLocaleString(), "num");
      if (s[3] > 0) {
        tr.className = opened[i] ? "has-files open" : "has-files";
        tr.addEventListener("click", (function (n) { return function () { opened[n] = !opened[n]; render(); }; })(i));
      }
      frag.appendChild(tr);
      if (opened[i] && s[3] > 0) {
        var ftr = document.createElement("tr"), td = document.createElement("td");
        td.colSpan = 5; td.className = "files"; td.appendChild(fileTable(i));
        ftr.appendChild(td); frag.appendChild(ftr);
      }
    }
    body.textContent = "";
    body.appendChild(frag);
    info.textContent = rows.length ? "Sessions " + (from + 1).toLocaleString() + "\u2013" + to.toLocaleString() +
      " of " + rows.length.toLocaleString() + " \u00b7 page " + (page + 1) + " of " + pages : "No sessions match.";
    for (var h = 0; h < heads.length; h++)
      heads[h].className = (heads[h].className.indexOf("num") >= 0 ? "num " : "") +
        (h === sortCol ? (sortDir < 0 ? "sorted-desc" : "sorted-asc") : "");
  }
  function go(p) { page = p; render(); }
  document.getElementById("first").addEventListener("click", function () { go(0); });
  document.getElementById("prev").addEventListener("click", function () { go(Math.max(0, page - 1)); });
  document.getElementById("next").addEventListener("click", function () { go(page + 1); });
  document.getElementById("last").addEventListener("click", function () { go(Infinity); });
  filterBox.addEventListener("input", function () { applyFilter(); render(); });
  sizeBox.addEventListener("change", function () { page = 0; render(); });
  Array.prototype.forEach.call(heads, function (th, col) {
    th.addEventListener("click", function () {
      if (sortCol === col) sortDir = -sortDir; else { sortCol = col; sortDir = col >= 2 ? -1 : 1; }
      sortRows(); page = 0; render();
    });
  });
  applyFilter();
  render();
})();
