// The browser surface: every control sends an OSC address with its arguments as JSON over the
// WebSocket, and the state the instrument sends back (the same values as its OSC feedback) sets
// what the page shows. Binary messages are the preview's JPEG pictures.
"use strict";
(function () {
  const query = new URLSearchParams(location.search);
  const token = query.get("token") || "";
  const withToken = (path) => token ? path + (path.includes("?") ? "&" : "?") + "token=" + encodeURIComponent(token) : path;
  const $ = (id) => document.getElementById(id);
  const state = {};            // address -> first argument, as last received
  let socket = null;
  const stats = { pictures: 0, received: 0, bytes: 0, messages: 0 };  // pictures drawn, received
  const listeners = [];        // (address, value) of every state message, for measurements
  window.loopmixer = { state, stats, send, listeners };

  function send(address, args) {
    if (socket && socket.readyState === 1) socket.send(JSON.stringify({ address, args: args || [] }));
  }

  // A control acts on pointerdown, not on click: a touch plays at once.
  function press(element, action) {
    element.addEventListener("pointerdown", (e) => { e.preventDefault(); action(); });
  }

  const blendNames = [[0, "none"], [2, "blend"], [1, "add"], [4, "multiply"], [3, "alpha/black chroma"], [6, "half half"]];
  for (const [id, name] of blendNames) {
    const b = document.createElement("button");
    b.textContent = name;
    b.dataset.blend = id;
    press(b, () => send("/loopmixer/blend", [id]));
    $("blends").appendChild(b);
  }
  for (let k = 0; k < 8; k++) {
    const row = document.createElement("div");
    row.className = "slot";
    row.innerHTML = '<button class="toggle">' + k + '</button><span class="name">-</span><span class="variants"></span>';
    press(row.querySelector(".toggle"), () => send("/loopmixer/slot/" + k, [state["/loopmixer/slot/" + k] ? 0 : 1]));
    for (let v = 0; v < 4; v++) {
      const b = document.createElement("button");
      b.textContent = v;
      press(b, () => send("/loopmixer/slot/" + k + "/value", [v]));
      row.querySelector(".variants").appendChild(b);
    }
    $("slots").appendChild(row);
  }
  press($("modeA"), () => send("/loopmixer/mode", ["A"]));
  press($("modeB"), () => send("/loopmixer/mode", ["B"]));
  press($("deck0"), () => send("/loopmixer/deck/selected", [0]));
  press($("deck1"), () => send("/loopmixer/deck/selected", [1]));
  press($("tap"), () => send("/loopmixer/tap"));
  press($("flash"), () => send("/loopmixer/flash"));
  press($("record"), () => send("/loopmixer/record", [state["/loopmixer/recording"] ? 0 : 1]));
  $("fade").addEventListener("input", (e) => send("/loopmixer/fade", [Number(e.target.value) / 15]));

  // A touch on a clip plays it as the controllers do: on the selected deck in mode A, as a trigger
  // (the i-th clip pad) in mode B, where the pads reach the first sixteen.
  function play(track) {
    if (state["/loopmixer/mode"] === "B") {
      if (track < 16) send("/loopmixer/clip", [track + 1]);
    } else {
      send("/loopmixer/deck/" + (state["/loopmixer/deck/selected"] || 0) + "/track", [track]);
    }
  }

  let clipsAsked = 0;
  function loadClips() {
    const asked = ++clipsAsked;
    fetch(withToken("clips.json"), { cache: "no-store" }).then((r) => r.json()).then((list) => {
      if (asked !== clipsAsked) return;
      $("playlist").textContent = list.playlist || "no playlist";
      const grid = $("clips");
      grid.textContent = "";
      list.clips.forEach((c) => {
        const cell = document.createElement("div");
        cell.className = "clip" + (c.missing ? " missing" : c.loading ? " loading" : "");
        if (c.track !== undefined) {
          cell.dataset.track = c.track;
          if (c.thumb !== undefined) {
            const img = document.createElement("img");
            img.src = withToken("thumb/" + c.thumb);
            img.alt = c.name;
            cell.appendChild(img);
          }
          press(cell, () => play(c.track));
        }
        const label = document.createElement("span");
        label.textContent = c.name;
        cell.appendChild(label);
        grid.appendChild(cell);
      });
      showPlaying();
    }).catch(() => {});
  }

  function showPlaying() {
    const deck = state["/loopmixer/mode"] === "B" ? 1 : (state["/loopmixer/deck/selected"] || 0);
    const track = state["/loopmixer/deck/" + deck + "/track"];
    for (const cell of $("clips").children) cell.classList.toggle("playing", cell.dataset.track == track);
  }

  function show(address, value) {
    state[address] = value;
    for (const l of listeners) l(address, value);
    let m;
    if (address === "/loopmixer/fade") $("fade").value = Math.round(value * 15);
    else if (address === "/loopmixer/blend") for (const b of $("blends").children) b.classList.toggle("on", Number(b.dataset.blend) === value);
    else if (address === "/loopmixer/mode") { $("modeA").classList.toggle("on", value === "A"); $("modeB").classList.toggle("on", value === "B"); showPlaying(); }
    else if (address === "/loopmixer/deck/selected") { $("deck0").classList.toggle("on", value === 0); $("deck1").classList.toggle("on", value === 1); showPlaying(); }
    else if (address === "/loopmixer/tempo") $("bpm").textContent = value.toFixed(1) + " BPM";
    else if (address === "/loopmixer/beat") [...$("beats").children].forEach((b, i) => { b.classList.toggle("lit", i + 1 === value); b.classList.toggle("down", i === 0); });
    else if (address === "/loopmixer/recording") $("record").classList.toggle("on", value === 1);
    else if (address === "/loopmixer/tracks" || address === "/loopmixer/playlist") loadClips();
    else if (/^\/loopmixer\/deck\/[01]\/track$/.test(address)) showPlaying();
    else if ((m = /^\/loopmixer\/slot\/(\d)(\/value|\/filter)?$/.exec(address))) {
      const row = $("slots").children[Number(m[1])];
      if (!m[2]) row.querySelector(".toggle").classList.toggle("on", value === 1);
      else if (m[2] === "/filter") row.querySelector(".name").textContent = value;
      else [...row.querySelector(".variants").children].forEach((b, i) => b.classList.toggle("on", i === value));
    }
  }

  const canvas = $("preview");
  const context = canvas.getContext("2d");
  let drawing = false;
  function drawPicture(blob) {
    // A picture still being decoded lets the next one pass: the newest is what matters.
    if (drawing) return;
    drawing = true;
    createImageBitmap(blob).then((bitmap) => {
      context.drawImage(bitmap, 0, 0, canvas.width, canvas.height);
      bitmap.close();
      stats.pictures++;
    }).catch(() => {}).finally(() => { drawing = false; });
  }

  function connect() {
    socket = new WebSocket(withToken((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/ws"));
    socket.binaryType = "blob";
    socket.onopen = () => { $("status").textContent = "online"; $("status").className = "on"; loadClips(); };
    socket.onclose = () => {
      $("status").textContent = "offline";
      $("status").className = "off";
      setTimeout(connect, 1000);
    };
    socket.onmessage = (e) => {
      if (typeof e.data !== "string") { stats.received++; stats.bytes += e.data.size; drawPicture(e.data); return; }
      let m;
      try { m = JSON.parse(e.data); } catch (err) { return; }
      if (m && typeof m.address === "string" && Array.isArray(m.args)) {
        stats.messages++;
        show(m.address, m.args[0]);
      }
    };
  }
  connect();
})();
