// Sorting of list tables by a click on a column head: a table whose THEAD cell
// carries the attribute "sortable" sorts its first TBODY by that column; a
// second click reverses the order. The arrow of the sorted column is drawn in
// a SPAN of class "arrow" inside the head cell.
(function () {
  function cellText(row, index) {
    var cell = row.cells[index];
    return cell ? (cell.textContent || cell.innerText || "").replace(/^\s+|\s+$/g, "") : "";
  }

  function compare(a, b) {
    var x = parseFloat(a), y = parseFloat(b);
    if (!isNaN(x) && !isNaN(y) && String(x) === a && String(y) === b) return x - y;
    return a.localeCompare(b, "zh-CN");
  }

  function sortTable(head) {
    var table = head;
    while (table && table.tagName !== "TABLE") table = table.parentNode;
    if (!table || !table.tBodies.length) return;
    var body = table.tBodies[0];
    var index = head.cellIndex;
    var descending = head.getAttribute("data-order") === "asc";
    var rows = Array.prototype.slice.call(body.rows);
    rows.sort(function (r1, r2) {
      var c = compare(cellText(r1, index), cellText(r2, index));
      return descending ? -c : c;
    });
    for (var i = 0; i < rows.length; i++) body.appendChild(rows[i]);
    var heads = head.parentNode.cells;
    for (var j = 0; j < heads.length; j++) {
      heads[j].removeAttribute("data-order");
      var arrow = heads[j].querySelector ? heads[j].querySelector(".arrow") : null;
      if (arrow) arrow.textContent = "";
    }
    head.setAttribute("data-order", descending ? "desc" : "asc");
    var mine = head.querySelector ? head.querySelector(".arrow") : null;
    if (mine) mine.textContent = descending ? "\u25bc" : "\u25b2";
  }

  document.addEventListener("click", function (e) {
    var target = e.target;
    while (target && target.tagName !== "TD" && target.tagName !== "TH") target = target.parentNode;
    if (target && target.hasAttribute("sortable") && target.parentNode.parentNode.tagName === "THEAD") {
      sortTable(target);
    }
  });

  window.orderbyTable = sortTable;
})();

// Pages written for a browser that runs VBScript and showModalDialog: their
// VBScript client functions (SetEmpty, openWinU, openWinW, openWinC, openWinB,
// openWin, doDelCondition) and their "vbscript:" event handlers. Where the
// browser runs VBScript the page's own code runs and nothing here is used.
// Elsewhere the functions are defined here with the same effect on the form,
// their modal dialogs open inside the page, and each "vbscript:" handler is
// read as the one VBScript call it holds and run.
(function () {
  var SEPARATOR = "$#@&!";
  // VBScript runs in the browsers that report a document mode before 11.
  if (typeof document.documentMode === "number" && document.documentMode < 11) return;

  // --- The in-page modal dialog -------------------------------------------

  // A number of pixels of a showModalDialog feature ("dialogWidth:400px").
  function feature(features, name, fallback) {
    var m = new RegExp(name + "\\s*:\\s*(\\d+)", "i").exec(features || "");
    return m ? parseInt(m[1], 10) : fallback;
  }

  var STYLE = ".oapx1-modal{position:fixed;left:0;top:0;right:0;bottom:0;z-index:2147483000;" +
    "background:rgba(0,0,0,.35);display:flex;align-items:center;justify-content:center}" +
    ".oapx1-modal-box{display:flex;flex-direction:column;max-width:100%;max-height:100%;" +
    "background:#fff;border:1px solid #808080;box-shadow:0 4px 16px rgba(0,0,0,.4)}" +
    ".oapx1-modal-bar{display:flex;align-items:center;background:#E4E4E0;padding:2px 4px;" +
    "font:bold 12px sans-serif}.oapx1-modal-bar span{flex:1}" +
    ".oapx1-modal-bar button{border:0;background:transparent;font:16px sans-serif;cursor:pointer}" +
    ".oapx1-modal iframe{border:0;flex:1;width:100%;min-height:0}";

  // Opens `url` in a modal dialog of the size `features` asks for and calls
  // done(result) once when it closes: the value the page set as its
  // returnValue before window.close(), or undefined when it was cancelled.
  function showDialog(url, features, done) {
    if (!document.getElementById("oapx1-modal-style")) {
      var style = document.createElement("style");
      style.id = "oapx1-modal-style";
      style.appendChild(document.createTextNode(STYLE));
      (document.head || document.documentElement).appendChild(style);
    }
    var opener = document.activeElement;
    var overlay = document.createElement("div");
    overlay.className = "oapx1-modal";
    var box = document.createElement("div");
    box.className = "oapx1-modal-box";
    box.setAttribute("role", "dialog");
    box.setAttribute("aria-modal", "true");
    box.style.width = feature(features, "dialogWidth", 400) + "px";
    box.style.height = (feature(features, "dialogHeight", 450) + 26) + "px";
    var bar = document.createElement("div");
    bar.className = "oapx1-modal-bar";
    var title = document.createElement("span");
    var close = document.createElement("button");
    close.type = "button";
    close.title = "\u5173\u95ed";
    close.setAttribute("aria-label", "\u5173\u95ed");
    close.appendChild(document.createTextNode("\u00d7"));
    bar.appendChild(title);
    bar.appendChild(close);
    var frame = document.createElement("iframe");
    frame.name = "oapx1Modal";
    var finished = false;
    function finish(result) {
      if (finished) return;
      finished = true;
      overlay.parentNode.removeChild(overlay);
      document.removeEventListener("keydown", onKey, true);
      if (opener && opener.focus) opener.focus();
      done(result);
    }
    function onKey(e) {
      if (e.key === "Escape" || e.keyCode === 27) { e.preventDefault(); finish(undefined); }
    }
    // The dialog page ends the dialog through this, or through returnValue
    // and window.close() as under showModalDialog.
    frame.oapx1Close = finish;
    frame.addEventListener("load", function () {
      try {
        var w = frame.contentWindow;
        title.textContent = w.document.title;
        box.setAttribute("aria-label", w.document.title);
        w.close = function () { finish(w.returnValue); };
        w.addEventListener("keydown", onKey, true);
        w.focus();
      } catch (e) { /* a page of another origin keeps its own close */ }
    });
    close.addEventListener("click", function () { finish(undefined); });
    document.addEventListener("keydown", onKey, true);
    box.appendChild(bar);
    box.appendChild(frame);
    overlay.appendChild(box);
    (document.body || document.documentElement).appendChild(overlay);
    frame.src = url;
  }

  // --- The page's client functions ------------------------------------------

  function form() { return document.formData || document.forms.formData; }
  function blank(k) { return k === undefined || k === null || k === ""; }
  // split(k, separator) as VBScript gives it: an empty result has no pieces.
  function pieces(k, separator) { return blank(k) ? [] : String(k).split(separator); }
  // Tells the form's listeners that a script changed a field, as typing would.
  function changed(field) {
    var element = form()[field];
    if (element && typeof Event === "function") element.dispatchEvent(new Event("change", { bubbles: true }));
  }
  // Sets two fields of the form from the first two pieces, or neither when
  // the result has no second piece.
  function fill(valueField, textField, parts) {
    if (parts.length < 2) return;
    form()[valueField].value = parts[0];
    form()[textField].value = parts[1];
    changed(valueField);
  }
  // Text as hexadecimal UTF-16 code units, four digits each: it reaches a page
  // unchanged whatever code page the page is served in.
  function hex(text) {
    var out = "";
    for (var i = 0; i < text.length; i++) out += ("000" + text.charCodeAt(i).toString(16)).slice(-4);
    return out;
  }
  // A picker's address carrying the current value of `field` as "cx", in
  // place of any FieldValue the page's link wrote (which joins accounts with
  // "-" and so cannot carry an account holding one): the picker opens with
  // what the field holds, in its order.
  function withChosen(url, field) {
    var at = url.indexOf("?"), path = at < 0 ? url : url.slice(0, at), kept = [];
    var items = at < 0 ? [] : url.slice(at + 1).split("&");
    for (var i = 0; i < items.length; i++) {
      if (items[i] && !/^(FieldValue|cx)=/i.test(items[i])) kept.push(items[i]);
    }
    var element = form()[field];
    kept.push("cx=" + hex(element ? String(element.value) : ""));
    return path + "?" + kept.join("&");
  }

  var functions = {
    SetEmpty: function (parm) {
      if (parm === "J") {
        form().FenFaUser.value = "";
        form().FenFaUserDis.value = "";
        changed("FenFaUser");
      } else {
        form().FenFaBuMen.value = "";
        form().FenFaBuMenDis.value = "";
        changed("FenFaBuMen");
      }
    },
    openWinW: function (url) {
      showDialog(withChosen(url, "FenFaUser"), "dialogWidth:400px;dialogHeight:450px", function (k) {
        if (!blank(k)) fill("FenFaUser", "FenFaUserDis", pieces(k, SEPARATOR));
      });
    },
    openWinU: function (url) {
      showDialog(withChosen(url, "BanLiUser"), "dialogWidth:400px;dialogHeight:450px", function (k) {
        if (!blank(k)) fill("BanLiUser", "BanLiUserDis", pieces(k, SEPARATOR));
      });
    },
    openWinC: function (url) {
      showDialog(withChosen(url, "FenFaBuMen"), "dialogWidth:405px;dialogHeight:450px", function (k) {
        var parts = pieces(k, SEPARATOR);
        if (parts.length < 2) return;
        // An empty choice is the empty list, not ";;".
        form().FenFaBuMen.value = parts[0] === "" ? "" : ";" + parts[0] + ";";
        form().FenFaBuMenDis.value = parts[1].split(";").join(",");
        changed("FenFaBuMen");
      });
    },
    openWinB: function (url) {
      showDialog(url, "dialogWidth:400px;dialogHeight:430px", function (k) {
        if (pieces(k, SEPARATOR).length > 0) fill("BanLiUser", "BanLiUserDis", pieces(k, "#"));
      });
    },
    openWin: function (url) {
      showDialog(url, "dialogWidth:450px;dialogHeight:300px", function (k) {
        if (!blank(k) && form().TiaoJian) form().TiaoJian.value = k;
      });
    },
    doDelCondition: function () {
      var list = form().ConditionList;
      if (list.selectedIndex < 0) {
        alert("\u8bf7\u9009\u62e9\u8981\u5220\u9664\u7684\u6761\u4ef6\uff01");
        return;
      }
      list.remove(list.selectedIndex);
    }
  };
  for (var name in functions) {
    if (functions.hasOwnProperty(name) && typeof window[name] === "undefined") window[name] = functions[name];
  }

  // --- "vbscript:" event handlers --------------------------------------------

  // The VBScript functions a handler may call, by lower-case name.
  var builtins = {
    replace: function (s, find, by) { return s === null ? null : String(s).split(String(find)).join(String(by)); },
    trim: function (s) { return String(s).replace(/^ +| +$/g, ""); },
    lcase: function (s) { return String(s).toLowerCase(); },
    ucase: function (s) { return String(s).toUpperCase(); },
    len: function (s) { return String(s).length; }
  };

  function tokenize(text) {
    var tokens = [], re = /\s*(?:("(?:[^"]|"")*")|('[^']*')|([A-Za-z_]\w*)|(\d+(?:\.\d+)?)|([(),.&]))/g, m, at = 0;
    text = text.replace(/\s+$/, "");
    while (at < text.length) {
      re.lastIndex = at;
      m = re.exec(text);
      if (!m || m.index !== at) throw new SyntaxError("vbscript handler: " + text);
      if (m[1]) tokens.push({ kind: "text", value: m[1].slice(1, -1).replace(/""/g, '"') });
      // The pages quote their handlers' texts with apostrophes.
      else if (m[2]) tokens.push({ kind: "text", value: m[2].slice(1, -1) });
      else if (m[3]) tokens.push({ kind: "name", value: m[3] });
      else if (m[4]) tokens.push({ kind: "text", value: Number(m[4]) });
      else tokens.push({ kind: m[5] });
      at = re.lastIndex;
    }
    return tokens;
  }

  // A case-insensitive member of an object, as VBScript looks names up.
  function member(object, name) {
    if (name in Object(object)) return object[name];
    var lower = name.toLowerCase();
    for (var key in object) if (key.toLowerCase() === lower) return object[key];
    return undefined;
  }

  function invoke(target, self, args) {
    if (typeof target === "function") return Function.prototype.apply.call(target, self, args);
    // A collection called with an index or name (document.all("x")) gives its item.
    if (target !== undefined && target !== null && typeof target.item === "function") return target.item.apply(target, args);
    throw new TypeError("vbscript handler: not a function");
  }

  // Compiles one VBScript call ("name args", "name(args)" or "call name(args)")
  // into a function of the element, or returns null when it is something else.
  function compile(text) {
    var tokens = tokenize(text), at = 0;
    function peek(kind) { return at < tokens.length && tokens[at].kind === kind; }
    function take(kind) {
      if (!peek(kind)) throw new SyntaxError("vbscript handler: " + text);
      return tokens[at++];
    }
    function args() {
      var list = [];
      if (peek(")")) return list;
      list.push(concat());
      while (peek(",")) { at++; list.push(concat()); }
      return list;
    }
    function primary() {
      if (peek("text")) { var v = tokens[at++].value; return function () { return v; }; }
      if (peek("(")) { at++; var inner = concat(); take(")"); return inner; }
      var name = take("name").value;
      return function (element) {
        var lower = name.toLowerCase();
        if (lower === "document") return document;
        if (lower === "window") return window;
        if (lower === "me") return element;
        if (builtins.hasOwnProperty(lower)) return builtins[lower];
        return member(window, name);
      };
    }
    function postfix() {
      var get = primary();
      for (;;) {
        if (peek(".")) {
          at++;
          var prop = take("name").value, object = get;
          get = (function (object, prop) {
            return function (element) { return member(object(element), prop); };
          })(object, prop);
        } else if (peek("(")) {
          at++;
          var list = args();
          take(")");
          get = (function (callee, list) {
            return function (element) {
              var values = [];
              for (var i = 0; i < list.length; i++) values.push(list[i](element));
              return invoke(callee(element), null, values);
            };
          })(get, list);
        } else {
          return get;
        }
      }
    }
    function concat() {
      var parts = [postfix()];
      while (peek("&")) { at++; parts.push(postfix()); }
      if (parts.length === 1) return parts[0];
      return function (element) {
        var s = "";
        for (var i = 0; i < parts.length; i++) {
          var v = parts[i](element);
          s += v === undefined || v === null ? "" : String(v);
        }
        return s;
      };
    }
    if (peek("name") && tokens[at].value.toLowerCase() === "call") at++;
    var callee = take("name").value, list = [];
    if (peek("(")) {
      // "name(a, b)": the parentheses hold the arguments.
      at++;
      list = args();
      take(")");
    } else if (at < tokens.length) {
      list = args();
    }
    if (at !== tokens.length) throw new SyntaxError("vbscript handler: " + text);
    return function (element) {
      var values = [];
      for (var i = 0; i < list.length; i++) values.push(list[i](element));
      var target = member(window, callee);
      if (target === undefined) throw new ReferenceError(callee + " is not defined");
      return invoke(target, element, values);
    };
  }

  function rewriteHandlers() {
    var all = document.getElementsByTagName("*");
    for (var i = 0; i < all.length; i++) {
      var attributes = all[i].attributes;
      for (var j = 0; j < attributes.length; j++) {
        var attribute = attributes[j], m = /^\s*vbscript:([\s\S]*)$/i.exec(attribute.value);
        if (!m || !/^on/i.test(attribute.name)) continue;
        var run;
        try { run = compile(m[1]); } catch (e) { continue; }
        all[i][attribute.name.toLowerCase()] = (function (run) {
          return function () { run(this); };
        })(run);
      }
    }
  }

  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", rewriteHandlers);
  else rewriteHandlers();
})();

// The node settings page as an editor, and the node list beside it:
// - edits not yet saved are guarded: leaving the page asks first (the
//   browser's own question), and so does a click in the node list that would
//   open another node over them;
// - the values of a save, and the values the page showed before it, are kept
//   in the tab's session storage, by node, until a page shows the save
//   landed; coming back to the node after a save that did not land offers to
//   bring it back, saying why it did not land (the session had expired, the
//   node was changed by someone else, a list or a value was refused). Brought
//   back are only the fields this editor changed, over the node as it is now;
//   where someone else changed the same field, the editor chooses which of
//   the two values to keep;
// - the page's message is also shown beside the save button for a few
//   seconds, and the message is cleared once the form is edited again;
// - the page's click-only controls (picker icons, the clear icons, the save
//   button) join the tab order and answer Enter and Space.
// As the functions above, none of it runs where the browser runs VBScript.
(function () {
  if (typeof document.documentMode === "number" && document.documentMode < 11) return;
  var MESSAGE_MS = 6000;
  var SAVED = "\u6210\u529f";  // the word of the page's save confirmation
  var LEAVE = "\u5f53\u524d\u8282\u70b9\u7684\u8bbe\u7f6e\u5df2\u4fee\u6539\uff0c\u5c1a\u672a\u4fdd\u5b58\u3002" +
    "\u786e\u5b9a\u79bb\u5f00\u5417\uff1f";
  var STYLE = ".oapx1-note{position:fixed;z-index:2147482000;font:12px sans-serif;background:#FFFFE1;" +
    "border:1px solid #808080;padding:3px 8px;box-shadow:0 2px 6px rgba(0,0,0,.3)}" +
    ".oapx1-restore{position:sticky;z-index:2147482000;top:0;margin:0 0 4px;font:12px sans-serif;" +
    "background:#FFFFE1;border:1px solid #808080;padding:4px 10px;box-sizing:border-box}" +
    ".oapx1-restore button{margin-left:6px;font:12px sans-serif}" +
    ".oapx1-restore fieldset{margin:4px 0;padding:2px 8px;border:1px solid #C0C0C0}" +
    ".oapx1-restore legend{font-weight:bold}.oapx1-restore label{margin-right:12px}" +
    ".oapx1-restore .oapx1-hint{color:#c00}.oapx1-restore .oapx1-said{margin:3px 0;color:#666666}" +
    "[data-oapx1-key]:focus{outline:2px solid #316AC5;outline-offset:1px}";

  function ready(run) {
    if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", run);
    else run();
  }

  function addStyle() {
    if (document.getElementById("oapx1-editor-style")) return;
    var style = document.createElement("style");
    style.id = "oapx1-editor-style";
    style.appendChild(document.createTextNode(STYLE));
    (document.head || document.documentElement).appendChild(style);
  }

  function trimmed(element) {
    return (element.textContent || "").replace(/^\s+|\s+$/g, "");
  }

  // --- The node list ---------------------------------------------------------

  function guardNodeList(list) {
    list.addEventListener("click", function (e) {
      var link = e.target;
      while (link && link.tagName !== "A") link = link.parentNode;
      if (!link || !link.target) return;
      var editor;
      try { editor = window.parent.frames[link.target].oapx1Editor; } catch (x) { return; }
      if (!editor || !editor.unsaved()) return;
      if (window.confirm(LEAVE)) editor.release();
      else e.preventDefault();
    });
  }

  // --- The node settings page -------------------------------------------------

  function nodeEditor(form) {
    // Fields the page fills itself when saving, not the user's edits.
    var OWN = { save: 1, CurrentJieDianYongHu: 1, OAPX1ShownVersion: 1 };
    var key = "oapx1.unsaved:" + location.pathname.toLowerCase() + ":" + form.OAID.value;
    var released = false, note = null, noteTimer = 0;

    function fields() {
      return Array.prototype.filter.call(form.elements, function (e) {
        return e.name && !OWN.hasOwnProperty(e.name) && e.type !== "button" && e.type !== "submit";
      });
    }
    function snapshot() {
      var values = {};
      fields().forEach(function (e) {
        values[e.name] = e.type === "checkbox" ? (e.checked ? "1" : "0") : String(e.value);
      });
      return values;
    }
    // Equal in every field both have: a page may leave some fields out.
    function same(a, b) {
      for (var name in a) {
        if (a.hasOwnProperty(name) && b.hasOwnProperty(name) && a[name] !== b[name]) return false;
      }
      return true;
    }
    function apply(values) {
      fields().forEach(function (e) {
        if (!values.hasOwnProperty(e.name)) return;
        if (e.type === "checkbox") {
          if (e.checked === (values[e.name] === "1")) return;
          e.checked = values[e.name] === "1";
        } else {
          if (String(e.value) === values[e.name]) return;
          e.value = values[e.name];
        }
        e.dispatchEvent(new Event("change", { bubbles: true }));
      });
    }

    var store = null;
    try {
      store = window.sessionStorage;
      store.getItem(key);
    } catch (x) { store = null; }
    function pending() {
      try {
        var text = store && store.getItem(key);
        var kept = text ? JSON.parse(text) : null;
        return kept && kept.values ? kept : null;
      } catch (x) { return null; }
    }
    // Keeps a save: `values` posted, `shown` the values its page showed,
    // `reason` how it was refused once a page says so, `at` when it was made.
    function keep(kept) {
      try { if (store) store.setItem(key, JSON.stringify(kept)); } catch (x) { /* full */ }
    }
    function forget() {
      try { if (store) store.removeItem(key); } catch (x) { /* unavailable */ }
    }

    var baseline = snapshot();
    function unsaved() { return !released && !same(snapshot(), baseline); }

    // The save message beside the save button, and its clearing.
    var message = document.getElementById("msgDis");
    var update = form.querySelector("[onclick^='check(']");
    function hideNote() {
      if (noteTimer) clearTimeout(noteTimer);
      noteTimer = 0;
      if (note && note.parentNode) note.parentNode.removeChild(note);
      note = null;
    }
    function showNote(text) {
      if (!update) return;
      var at = update.getBoundingClientRect();
      note = document.createElement("div");
      note.className = "oapx1-note";
      note.id = "oapx1-save-note";
      note.setAttribute("role", "status");
      note.appendChild(document.createTextNode(text));
      note.style.top = Math.round(at.bottom + 4) + "px";
      note.style.right = Math.max(4, Math.round(document.documentElement.clientWidth - at.right)) + "px";
      document.body.appendChild(note);
      noteTimer = setTimeout(hideNote, MESSAGE_MS);
    }
    function edited() {
      hideNote();
      if (!message) return;
      var holder = message.getElementsByTagName("font")[0] || message;
      if (trimmed(holder) !== "") holder.textContent = "";
    }
    form.addEventListener("input", edited);
    form.addEventListener("change", edited);

    // A save keeps what it posts until a page shows it landed.
    form.submit = function () {
      if (form.save.value === "true") keep({ values: snapshot(), shown: baseline, at: Date.now() });
      released = true;
      return HTMLFormElement.prototype.submit.call(form);
    };
    // Enter in a text field saves through the page's own checks, rather than
    // posting the form as an unsaved reload that drops the edits.
    form.addEventListener("submit", function (e) {
      if (form.save.value !== "") { released = true; return; }
      e.preventDefault();
      if (typeof window.check === "function") window.check();
    });

    window.addEventListener("beforeunload", function (e) {
      if (!unsaved()) return undefined;
      // Browsers differ in which of these asks; all three together ask once.
      e.preventDefault();
      e.returnValue = LEAVE;
      return LEAVE;
    });
    window.oapx1Editor = {
      unsaved: unsaved,
      release: function () { released = true; }
    };

    // What the form calls a field: its label, the cell before its own, or
    // the text its own cell starts with (the distribution users' cell).
    function labelOf(name) {
      var e = form.elements[name];
      if (!e) return name;
      var label = e.id && document.querySelector("label[for='" + e.id + "']");
      if (label) return trimmed(label);
      var cell = e.parentNode;
      while (cell && cell.tagName !== "TD") cell = cell.parentNode;
      if (!cell) return name;
      var text = cell.previousElementSibling ? trimmed(cell.previousElementSibling) : trimmed(cell);
      return text.split("\uff1a")[0].replace(/^\s+|\s+$/g, "") || name;
    }
    // A field's value in `values` as the form shows it.
    function wordsOf(name, values) {
      var e = form.elements[name], v = values[name];
      if (e && e.type === "checkbox") return v === "1" ? "\u52fe\u9009" : "\u672a\u52fe\u9009";
      if (values.hasOwnProperty(name + "Dis")) v = values[name + "Dis"];
      else if (e && e.tagName === "SELECT") {
        for (var i = 0; i < e.options.length; i++) if (e.options[i].value === v) v = e.options[i].text;
      }
      return v === "" || v === undefined ? "\uff08\u7a7a\uff09" : v;
    }

    // What restoring a kept save brings back over the form as it is now: the
    // fields its editor changed from what the page showed (`take`), and those
    // someone else changed too, to another value (`both`). A list and its
    // display text ("...Dis") go as one field. A save kept without what its
    // page showed brings back every field.
    function plan(kept) {
      var take = [], both = [], was = kept.shown;
      for (var name in kept.values) {
        if (!kept.values.hasOwnProperty(name)) continue;
        if (/Dis$/.test(name) && kept.values.hasOwnProperty(name.slice(0, -3))) continue;
        var mine = kept.values[name];
        if (was && was[name] === mine) continue;
        if (baseline[name] === mine) continue;
        if (!was || !baseline.hasOwnProperty(name) || baseline[name] === was[name]) take.push(name);
        else both.push(name);
      }
      return { take: take, both: both };
    }
    function valuesOf(kept, names) {
      var values = {};
      names.forEach(function (name) {
        values[name] = kept.values[name];
        if (kept.values.hasOwnProperty(name + "Dis")) values[name + "Dis"] = kept.values[name + "Dis"];
      });
      return values;
    }

    // Why a kept save did not land, as the bar says it.
    var REASONS = {
      "conflict": "\u6b64\u8282\u70b9\u5728\u60a8\u6253\u5f00\u4e4b\u540e\u5df2\u88ab\u4ed6\u4eba\u4fee\u6539\u3002" +
        "\u6062\u590d\u53ea\u586b\u5165\u60a8\u6539\u52a8\u8fc7\u7684\u9879\u3002",
      "bad list": "\u7528\u6237\u6216\u90e8\u95e8\u5217\u8868\u6709\u8bef\u3002",
      "bad value": "\u6709\u4e0d\u5408\u8981\u6c42\u7684\u503c\u3002",
      "unchecked": "\u6682\u65f6\u65e0\u6cd5\u68c0\u67e5\uff08\u6570\u636e\u5e93\u5fd9\u6216\u51fa\u9519\uff09\uff0c\u8bf7\u7a0d\u540e\u518d\u8bd5\u3002"
    };
    var EXPIRED = "\u767b\u5f55\u5df2\u8d85\u65f6\uff0c\u4fdd\u5b58\u6ca1\u6709\u5230\u8fbe\u670d\u52a1\u5668\u3002";

    // The choice, for a field both editors changed, between the kept save's
    // value (mine) and the one the page shows now (theirs).
    function choice(name, kept) {
      var set = document.createElement("fieldset"), legend = document.createElement("legend");
      set.setAttribute("data-field", name);
      legend.appendChild(document.createTextNode(labelOf(name) +
        "\uff1a\u60a8\u548c\u5bf9\u65b9\u90fd\u6539\u4e86\uff0c\u4fdd\u7559\u54ea\u4e00\u4e2a\uff1f"));
      set.appendChild(legend);
      [["mine", "\u6211\u7684\uff1a", kept.values], ["theirs", "\u5bf9\u65b9\u7684\uff1a", baseline]].forEach(function (c) {
        var label = document.createElement("label"), radio = document.createElement("input");
        radio.type = "radio";
        radio.name = "oapx1-keep-" + name;
        radio.value = c[0];
        label.appendChild(radio);
        label.appendChild(document.createTextNode(c[1] + wordsOf(name, c[2])));
        set.appendChild(label);
      });
      return set;
    }

    // Offers the kept save back, with `said`, the page's message of its
    // refusal when this page answers it.
    function offerRestore(kept, said) {
      var when = new Date(kept.at), bar = document.createElement("div"), todo = plan(kept);
      var hh = ("0" + when.getHours()).slice(-2), mm = ("0" + when.getMinutes()).slice(-2);
      bar.className = "oapx1-restore";
      bar.id = "oapx1-restore";
      bar.setAttribute("role", "alert");
      bar.setAttribute("data-reason", kept.reason || "expired");
      bar.appendChild(document.createTextNode("\u672c\u8282\u70b9 " + hh + ":" + mm +
        " \u63d0\u4ea4\u7684\u8bbe\u7f6e\u672a\u80fd\u4fdd\u5b58\uff1a" + (REASONS[kept.reason] || EXPIRED)));
      if (said) {
        var why = document.createElement("div");
        why.className = "oapx1-said";
        why.appendChild(document.createTextNode(said));
        bar.appendChild(why);
      }
      todo.both.forEach(function (name) { bar.appendChild(choice(name, kept)); });
      var hint = document.createElement("div");
      hint.className = "oapx1-hint";
      function close() {
        forget();
        bar.parentNode.removeChild(bar);
      }
      function button(text, run) {
        var b = document.createElement("button");
        b.type = "button";
        b.appendChild(document.createTextNode(text));
        b.addEventListener("click", run);
        bar.appendChild(b);
        return b;
      }
      var restore = button("\u6062\u590d\u672a\u4fdd\u5b58\u7684\u8bbe\u7f6e", function () {
        var names = todo.take.slice(), open = null;
        todo.both.forEach(function (name) {
          var chosen = bar.querySelector("input[name='oapx1-keep-" + name + "']:checked");
          if (!chosen) open = open || bar.querySelector("input[name='oapx1-keep-" + name + "']");
          else if (chosen.value === "mine") names.push(name);
        });
        if (open) {
          hint.textContent = "\u8bf7\u5148\u4e3a\u6bcf\u4e00\u9879\u9009\u62e9\u4fdd\u7559\u54ea\u4e00\u4e2a\u3002";
          open.focus();
          return;
        }
        close();
        apply(valuesOf(kept, names));
        if (update && update.focus) update.focus();
      });
      button("\u653e\u5f03", close);
      bar.appendChild(hint);
      // In the flow of the form's scrolling content, below the page's title
      // and toolbar: it covers neither, and stays in view as the form scrolls.
      var holder = form.JieDianName;
      while (holder && holder.tagName !== "DIV") holder = holder.parentNode;
      if (holder) holder.insertBefore(bar, holder.firstChild);
      else form.insertBefore(bar, form.firstChild);
      restore.focus();
    }

    var shown = message ? trimmed(message) : "";
    var kept = pending();
    if (kept) {
      if (shown.indexOf(SAVED) >= 0 || same(kept.values, baseline)) {
        forget();
      } else {
        // This page answers the kept save when the host says how it refused it.
        var refused = serverTiming("save");
        if (refused) {
          kept.reason = refused;
          keep(kept);
        }
        // The offer carries the message, which the note would cover.
        offerRestore(kept, refused ? shown : "");
        shown = "";
      }
    }
    if (shown) showNote(shown);
  }

  // The page's controls that answer only a mouse click join the tab order as
  // buttons named by their title or text.
  function reachByKeyboard(form) {
    var controls = form.querySelectorAll("[onclick]");
    for (var i = 0; i < controls.length; i++) {
      var c = controls[i];
      if (/^(A|BUTTON|INPUT|SELECT|TEXTAREA)$/.test(c.tagName) || c.hasAttribute("tabindex")) continue;
      c.tabIndex = 0;
      c.setAttribute("role", "button");
      c.setAttribute("data-oapx1-key", "");
      if (!c.getAttribute("aria-label")) {
        var label = c.getAttribute("title") || trimmed(c);
        if (label) c.setAttribute("aria-label", label);
      }
      c.addEventListener("keydown", function (e) {
        if (e.key !== "Enter" && e.key !== " ") return;
        e.preventDefault();
        this.click();
      });
    }
  }

  // What the host said of this page in its Server-Timing header under
  // `name`; "" when nothing.
  function serverTiming(name) {
    var said = "";
    try {
      var nav = performance.getEntriesByType("navigation")[0];
      (nav && nav.serverTiming || []).forEach(function (t) { if (t.name === name) said = t.description; });
    } catch (x) { return ""; }
    return said;
  }

  // The host sends the version of the node this page shows ("node"), and
  // how it refused the save this page answers ("save"); the version, posted
  // back with the form, lets the host refuse a save over a change made since
  // this tab (not another) was shown.
  function postShownVersion(form) {
    var version = serverTiming("node");
    if (!version || form.OAPX1ShownVersion) return;
    var field = document.createElement("input");
    field.type = "hidden";
    field.name = "OAPX1ShownVersion";
    field.value = version;
    form.appendChild(field);
  }

  ready(function () {
    var list = document.getElementById("nodes");
    if (list) guardNodeList(list);
    var form = document.forms.formData;
    if (form && form.JieDianName && form.OAID && form.save) {
      addStyle();
      postShownVersion(form);
      nodeEditor(form);
      reachByKeyboard(form);
    }
  });
})();
