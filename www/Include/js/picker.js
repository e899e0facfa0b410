// The user and department pickers (PowerSelect.asp, MulSeleDepart.asp): the
// department tree loaded one level at a time, the users of a department or of
// a search, the list of what is chosen, and the answer to the dialog: the
// chosen values and their display texts, each joined by the form's
// separators, the two joined by "$#@&!". Cancelling answers nothing. The
// chosen list starts with what the field held (the page writes it); emptying
// it is confirmed first.
(function () {
  var form = document.getElementById("picker");
  var kind = form.getAttribute("data-kind");
  var tree = document.getElementById("tree");
  var found = document.getElementById("found");
  var chosen = document.getElementById("chosen");
  var query = document.getElementById("q");
  var page = location.pathname;

  function get(params, done) {
    var request = new XMLHttpRequest();
    request.open("GET", page + "?" + params, true);
    request.onreadystatechange = function () {
      if (request.readyState === 4) done(request.status === 200 ? request.responseText : "");
    };
    request.send(null);
  }

  // Options or list items from markup the page served, HTML-encoded there.
  function parse(markup, wrapper) {
    var holder = document.createElement("div");
    holder.innerHTML = "<" + wrapper + ">" + markup + "</" + wrapper + ">";
    return holder.firstChild.children;
  }

  // --- The dialog's answer -----------------------------------------------

  function answer(value) {
    window.returnValue = value;
    var frame = window.frameElement;
    if (frame && typeof frame.oapx1Close === "function") frame.oapx1Close(value);
    else window.close();
  }

  // How many entries the field had when the picker opened: emptying a list
  // that had some is confirmed once, so that it never happens by accident.
  var startedWith = chosen.options.length;

  function confirmChoice() {
    if (startedWith > 0 && chosen.options.length === 0 &&
        !window.confirm("\u786e\u5b9a\u6e05\u7a7a\uff1f")) return;
    var values = [], texts = [];
    for (var i = 0; i < chosen.options.length; i++) {
      values.push(chosen.options[i].value);
      texts.push(chosen.options[i].getAttribute("data-name"));
    }
    answer(values.join(form.getAttribute("data-value-separator")) + "$#@&!" +
      texts.join(form.getAttribute("data-text-separator")));
  }

  // --- The chosen list ---------------------------------------------------

  function has(value) {
    for (var i = 0; i < chosen.options.length; i++) if (chosen.options[i].value === value) return true;
    return false;
  }

  function choose(value, name) {
    if (value === "" || has(value)) return;
    var option = document.createElement("option");
    option.value = value;
    option.setAttribute("data-name", name);
    option.appendChild(document.createTextNode(name));
    chosen.appendChild(option);
  }

  function addSelected() {
    if (kind === "users") {
      for (var i = 0; i < found.options.length; i++) {
        var o = found.options[i];
        if (o.selected && !o.disabled) choose(o.value, o.getAttribute("data-name"));
      }
    } else {
      var item = current();
      if (item) choose(item.getAttribute("data-id"), item.getAttribute("data-name"));
    }
  }

  function removeSelected() {
    for (var i = chosen.options.length - 1; i >= 0; i--) if (chosen.options[i].selected) chosen.remove(i);
  }

  function move(step) {
    var options = Array.prototype.slice.call(chosen.options);
    if (step > 0) options.reverse();
    for (var i = 0; i < options.length; i++) {
      var o = options[i];
      if (!o.selected) continue;
      var neighbour = step < 0 ? o.previousElementSibling : o.nextElementSibling;
      if (!neighbour || neighbour.selected) continue;
      chosen.insertBefore(o, step < 0 ? neighbour : neighbour.nextSibling);
    }
  }

  // --- The department tree -------------------------------------------------

  function items() { return tree.querySelectorAll("li"); }
  function current() { return tree.querySelector("li[aria-selected=true]"); }

  function visible(item) {
    for (var p = item.parentNode; p && p !== tree; p = p.parentNode) {
      if (p.tagName === "LI" && p.getAttribute("aria-expanded") !== "true") return false;
    }
    return true;
  }

  function select(item) {
    var old = current();
    if (old) { old.setAttribute("aria-selected", "false"); old.tabIndex = -1; }
    item.setAttribute("aria-selected", "true");
    item.tabIndex = 0;
    item.focus();
    if (kind === "users") {
      document.getElementById("foundCaption").textContent = item.getAttribute("data-name");
      showUsers("part=users&dept=" + encodeURIComponent(item.getAttribute("data-id")));
    }
  }

  function toggle(item, open) {
    if (!item.hasAttribute("aria-expanded")) return;
    item.setAttribute("aria-expanded", open ? "true" : "false");
    if (!open || item.getAttribute("data-loaded")) return;
    item.setAttribute("data-loaded", "1");
    get("part=depts&parent=" + encodeURIComponent(item.getAttribute("data-id")), function (markup) {
      var group = document.createElement("ul");
      group.setAttribute("role", "group");
      var children = parse(markup, "ul");
      while (children.length) group.appendChild(children[0]);
      item.appendChild(group);
    });
  }

  tree.addEventListener("click", function (e) {
    var node = e.target;
    while (node && node.tagName !== "LI") node = node.parentNode;
    if (!node) return;
    // A first click selects and opens a department, a click on the selected one folds it.
    var open = node.getAttribute("aria-expanded") === "true";
    toggle(node, !(open && node.getAttribute("aria-selected") === "true"));
    select(node);
  });
  tree.addEventListener("dblclick", function (e) {
    var node = e.target;
    while (node && node.tagName !== "LI") node = node.parentNode;
    if (!node) return;
    if (kind === "users") toggle(node, node.getAttribute("aria-expanded") !== "true");
    else addSelected();
  });
  tree.addEventListener("keydown", function (e) {
    var item = current(), list = Array.prototype.filter.call(items(), visible);
    var index = list.indexOf(item);
    switch (e.key) {
      case "ArrowDown": if (index < list.length - 1) select(list[index + 1]); break;
      case "ArrowUp": if (index > 0) select(list[index - 1]); break;
      case "ArrowRight": if (item) toggle(item, true); break;
      case "ArrowLeft":
        if (item && item.getAttribute("aria-expanded") === "true") toggle(item, false);
        else if (item && item.parentNode.parentNode.tagName === "LI") select(item.parentNode.parentNode);
        break;
      case "Enter": case " ": if (kind === "departments") addSelected(); else if (found.options.length) found.focus(); break;
      default: return;
    }
    e.preventDefault();
  });
  // The tree is one stop of the tab order, on its selected (or first) item.
  if (items().length) items()[0].tabIndex = 0;

  // --- Users found -----------------------------------------------------------

  function showUsers(params) {
    get(params, function (markup) {
      found.innerHTML = "";
      var options = parse(markup, "select");
      while (options.length) found.appendChild(options[0]);
    });
  }

  // The search text as hexadecimal UTF-16 code units: it reaches the page as
  // typed whatever code page the page is served in.
  function hex(text) {
    var out = "";
    for (var i = 0; i < text.length; i++) out += ("000" + text.charCodeAt(i).toString(16)).slice(-4);
    return out;
  }

  function search() {
    var text = query.value.replace(/^\s+|\s+$/g, "");
    if (!text) return;
    document.getElementById("foundCaption").textContent = "\u641c\u7d22\uff1a" + text;
    showUsers("part=users&qx=" + hex(text));
  }

  if (kind === "users") {
    document.getElementById("find").addEventListener("click", search);
    query.addEventListener("keydown", function (e) {
      if (e.key === "Enter") { e.preventDefault(); search(); }
    });
    found.addEventListener("dblclick", addSelected);
    found.addEventListener("keydown", function (e) {
      if (e.key === "Enter") { e.preventDefault(); addSelected(); }
    });
  }

  chosen.addEventListener("keydown", function (e) {
    if (e.key === "Delete" || e.key === "Backspace") { e.preventDefault(); removeSelected(); }
  });
  chosen.addEventListener("dblclick", removeSelected);
  document.getElementById("add").addEventListener("click", addSelected);
  document.getElementById("remove").addEventListener("click", removeSelected);
  document.getElementById("up").addEventListener("click", function () { move(-1); });
  document.getElementById("down").addEventListener("click", function () { move(1); });
  document.getElementById("ok").addEventListener("click", confirmChoice);
  document.getElementById("cancel").addEventListener("click", function () { answer(undefined); });
  document.addEventListener("keydown", function (e) {
    if (e.key === "Escape") { e.preventDefault(); answer(undefined); }
  });
  (query || tree.querySelector("li") || chosen).focus();
})();
